#include "mqtt/MqttFormat.h"

#include "records/RecordQuery.h"

#include <QLocale>

#include <cmath>
#include <cstdio>

namespace mqttformat {

namespace {
QByteArray moduleTopic(const QString &prefix, int address, const char *leaf) {
    return prefix.toUtf8() + '/' + QByteArray::number(address) + '/' + leaf;
}
}  // namespace

QByteArray stateTopic(const QString &prefix, int address) {
    return moduleTopic(prefix, address, "state");
}

QByteArray lastTopic(const QString &prefix, int address) {
    return moduleTopic(prefix, address, "last");
}

QByteArray alarmTopic(const QString &prefix, int address) {
    return moduleTopic(prefix, address, "alarm");
}

QByteArray statusTopic(const QString &prefix) {
    return prefix.toUtf8() + "/status";
}

QByteArray onlinePayload() {
    return QByteArrayLiteral("online");
}

QByteArray offlinePayload() {
    return QByteArrayLiteral("offline");
}

QByteArray jsonNumber(double value) {
    if (!std::isfinite(value))
        return QByteArrayLiteral("null");
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

QByteArray jsonString(const QString &text) {
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

QByteArray readingPayload(double temperature, double humidity, const QString &time) {
    return "{\"temp\": " + jsonNumber(temperature) + ", \"hum\": " + jsonNumber(humidity) +
           ", \"time\": " + jsonString(time) + '}';
}

QByteArray alarmPayload(const QString &kind, const QString &state, std::optional<double> value,
                        const QString &time) {
    return "{\"kind\": " + jsonString(kind) + ", \"state\": " + jsonString(state) +
           ", \"value\": " + (value ? jsonNumber(*value) : QByteArrayLiteral("null")) +
           ", \"time\": " + jsonString(time) + '}';
}

QList<MqttMessage> readingMessages(const QString &prefix, int address, double temperature,
                                   double humidity, const QString &time) {
    const QByteArray payload = readingPayload(temperature, humidity, time);
    return {MqttMessage{stateTopic(prefix, address), payload, false, 1},
            MqttMessage{lastTopic(prefix, address), payload, true, 1}};
}

MqttMessage alarmMessage(const QString &prefix, int address, const QString &kind,
                         const QString &state, std::optional<double> value, const QString &time) {
    return {alarmTopic(prefix, address), alarmPayload(kind, state, value, time), false, 1};
}

QString recordTime(const QDateTime &instant) {
    return recordClockTime(instant).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace mqttformat
