#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One message for the broker.
struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
    bool retain = false;
    int qos = 1;

    friend bool operator==(const MqttMessage &, const MqttMessage &) = default;
};

// What the program publishes and under which topics. Every topic starts
// with the prefix of the settings (qx7 unless changed):
//
//   <prefix>/<adr>/state   every valid reading, QoS 1, not retained:
//                          {"temp": 23.5, "hum": 45.2, "time": "2024-03-05 10:00:00"}
//   <prefix>/<adr>/last    the latest reading of the module, the same payload, retained
//   <prefix>/<adr>/alarm   an alarm of the module, QoS 1, not retained:
//                          {"kind": "temp_high", "state": "on", "value": 31.5, "time": "..."}
//   <prefix>/status        "online" while the program is connected, "offline"
//                          (also as its last will), retained
//
// Times are the records' time: UTC plus 8 hours, "YYYY-MM-DD HH:MM:SS".
namespace mqttformat {

QByteArray stateTopic(const QString &prefix, int address);
QByteArray lastTopic(const QString &prefix, int address);
QByteArray alarmTopic(const QString &prefix, int address);
QByteArray statusTopic(const QString &prefix);

QByteArray onlinePayload();
QByteArray offlinePayload();

// A number as JSON: its shortest decimal form (23.5, 26, -10, 0.1); a value
// that JSON cannot hold (infinite, not a number) becomes null.
QByteArray jsonNumber(double value);
// A text as a JSON string, quotes included.
QByteArray jsonString(const QString &text);

QByteArray readingPayload(double temperature, double humidity, const QString &time);
QByteArray alarmPayload(const QString &kind, const QString &state, std::optional<double> value,
                        const QString &time);

// The two messages of one reading: state (not retained), then last (retained).
QList<MqttMessage> readingMessages(const QString &prefix, int address, double temperature,
                                   double humidity, const QString &time);
MqttMessage alarmMessage(const QString &prefix, int address, const QString &kind,
                         const QString &state, std::optional<double> value, const QString &time);

// The record time of an instant: UTC + 8 hours as "YYYY-MM-DD HH:MM:SS".
QString recordTime(const QDateTime &instant);

}  // namespace mqttformat
