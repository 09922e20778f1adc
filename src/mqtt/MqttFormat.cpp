#include "mqtt/MqttFormat.h"

#include "store/ValueText.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QByteArray readingPayload(double temperature, double humidity, const QString &time, qint64 unixMs) {
    return "{\"temp\": " + jsonNumber(temperature) + ", \"hum\": " + jsonNumber(humidity) +
           ", \"time\": " + jsonString(time) + ", \"ts\": " + QByteArray::number(unixMs) + '}';
}

QByteArray alarmPayload(const QString &kind, const QString &state, std::optional<double> value,
                        const QString &time) {
    return "{\"kind\": " + jsonString(kind) + ", \"state\": " + jsonString(state) +
           ", \"value\": " + (value ? jsonNumber(*value) : QByteArrayLiteral("null")) +
           ", \"time\": " + jsonString(time) + '}';
}

QList<MqttMessage> readingMessages(const QString &prefix, int address, double temperature,
                                   double humidity, const QString &time, qint64 unixMs) {
    const QByteArray payload = readingPayload(temperature, humidity, time, unixMs);
    return {MqttMessage{stateTopic(prefix, address), payload, false, 1},
            MqttMessage{lastTopic(prefix, address), payload, true, 1}};
}

MqttMessage alarmMessage(const QString &prefix, int address, const QString &kind,
                         const QString &state, std::optional<double> value, const QString &time) {
    return {alarmTopic(prefix, address), alarmPayload(kind, state, value, time), false, 1};
}

QByteArray discoveryNode(const QString &prefix) {
    QByteArray node = prefix.toUtf8();
    bool lossy = false;
    for (char &c : node) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!allowed) {
            lossy = lossy || c != '/';
            c = '_';
        }
    }
    if (lossy)
        node += '_' +
                QCryptographicHash::hash(prefix.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return node;
}

QByteArray discoveryBirthTopic(const QString &discoveryPrefix) {
    return discoveryPrefix.toUtf8() + "/status";
}

QList<MqttMessage> discoveryConfigs(const QString &discoveryPrefix, const QString &prefix,
                                    const QList<MqttModule> &modules) {
    struct Quantity {
        const char *key;  // in the state payload
        const char *object;
        const char *name;
        const char *unit;
    };
    static const Quantity quantities[] = {{"temp", "temperature", "温度", "°C"},
                                          {"hum", "humidity", "湿度", "%"}};
    const QByteArray node = discoveryNode(prefix);
    QList<MqttMessage> out;
    for (const MqttModule &module : modules) {
        const QString adr = QString::number(module.address);
        const QString id = QString::fromUtf8(node) + '_' + adr;
        QJsonObject device{{"identifiers", QJsonArray{id}},
                           {"name", prefix + QStringLiteral(" 模块") + adr}};
        if (!module.model.trimmed().isEmpty())
            device.insert("model", module.model.trimmed());
        for (const Quantity &q : quantities) {
            const QString object = adr + '_' + QLatin1String(q.object);
            const QJsonObject config{
                {"name", QString::fromUtf8(q.name)},
                {"device_class", QLatin1String(q.object)},
                {"unit_of_measurement", QString::fromUtf8(q.unit)},
                {"state_class", "measurement"},
                {"state_topic", QString::fromUtf8(stateTopic(prefix, module.address))},
                {"value_template", QStringLiteral("{{ value_json.%1 }}").arg(q.key)},
                {"availability_topic", QString::fromUtf8(statusTopic(prefix))},
                {"payload_available", QString::fromUtf8(onlinePayload())},
                {"payload_not_available", QString::fromUtf8(offlinePayload())},
                {"unique_id", id + '_' + QLatin1String(q.object)},
                {"object_id", id + '_' + QLatin1String(q.object)},
                {"device", device}};
            out.append(
                {discoveryPrefix.toUtf8() + "/sensor/" + node + '/' + object.toUtf8() + "/config",
                 QJsonDocument(config).toJson(QJsonDocument::Compact), true, 1});
        }
    }
    return out;
}

}  // namespace mqttformat
