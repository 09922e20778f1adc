#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// A registered module, as Home Assistant's discovery names it.
struct MqttModule {
    int address = 0;
    QString model;  // the model text of table dbQx7

    friend bool operator==(const MqttModule &, const MqttModule &) = default;
};

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
//   <prefix>/<adr>/state   every valid reading, QoS 1, not retained, with the
//                          instant in Unix milliseconds (for Telegraf and the like):
//                          {"temp": 23.5, "hum": 45.2, "time": "2024-03-05 10:00:00",
//                           "ts": 1709604000000}
//   <prefix>/<adr>/last    the latest reading of the module, the same payload, retained
//   <prefix>/<adr>/alarm   an alarm of the module, QoS 1, not retained:
//                          {"kind": "temp_high", "state": "on", "value": 31.5, "time": "..."}
//   <prefix>/status        "online" while the program is connected, "offline"
//                          (also as its last will), retained
//
// Times are the records' time: UTC plus 8 hours, "YYYY-MM-DD HH:MM:SS".
//
// Home Assistant's discovery (under its prefix, homeassistant unless changed):
//
//   <discovery>/sensor/<node>/<adr>_temperature/config   retained, one per module
//   <discovery>/sensor/<node>/<adr>_humidity/config      and quantity
//   <discovery>/status     Home Assistant's own "online" when it starts
//
// where <node> is the prefix with every character other than A-Z, a-z, 0-9,
// '_' and '-' made '_' (qx7/hall1: qx7_hall1), and a short hash of the prefix
// added when anything but a '/' had to go.
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

// `unixMs`: the instant of the reading, milliseconds since 1970 (UTC).
QByteArray readingPayload(double temperature, double humidity, const QString &time, qint64 unixMs);
QByteArray alarmPayload(const QString &kind, const QString &state, std::optional<double> value,
                        const QString &time);

// The two messages of one reading: state (not retained), then last (retained).
QList<MqttMessage> readingMessages(const QString &prefix, int address, double temperature,
                                   double humidity, const QString &time, qint64 unixMs);
MqttMessage alarmMessage(const QString &prefix, int address, const QString &kind,
                         const QString &state, std::optional<double> value, const QString &time);

QByteArray discoveryNode(const QString &prefix);
QByteArray discoveryBirthTopic(const QString &discoveryPrefix);
// The retained configurations of the modules' temperature and humidity
// sensors: device class, unit, state class measurement, the module's state
// topic with a template that picks the value, the program's status as
// availability, a unique id and a device block naming the module.
QList<MqttMessage> discoveryConfigs(const QString &discoveryPrefix, const QString &prefix,
                                    const QList<MqttModule> &modules);

}  // namespace mqttformat
