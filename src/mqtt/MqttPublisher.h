#pragma once

#include "mqtt/MqttConnection.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/MqttStatus.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class LiteConnection;
class QThread;

// Publishes readings and alarms to the MQTT broker of the settings, from the
// window thread, without ever waiting for the network: each call formats
// its messages and hands them to the connection, which runs in a thread of
// its own and queues them while the broker cannot be reached (at most
// 10,000; the oldest give way, and the status line says so once).
//
// Without settings nothing is published and nothing runs. The status line
// text comes with stateChanged() whenever it changes.
class MqttPublisher : public QObject {
    Q_OBJECT
public:
    explicit MqttPublisher(QObject *parent = nullptr);
    // Stops as stop() does.
    ~MqttPublisher() override;

    // For tests and benchmarks; they take effect at the next start.
    void setTiming(const MqttConnection::Timing &timing) { timing_ = timing; }
    void setQueueLimit(int limit) { queueLimit_ = limit; }

    // Publishes with these settings from now on: starts, or moves to them
    // (the queue is kept), or, when they are the ones in use and the broker
    // cannot be reached, tries again at once; nothing: stops, and what waits
    // is given up.
    void apply(const std::optional<MqttSettings> &settings);
    // Applies the row of table mqttsetting. A row that cannot be read or used
    // stops publishing; the reason is returned (and shown in the status line).
    QString applyFrom(LiteConnection &db);
    // Says "offline", disconnects and ends the thread, waiting at most
    // `waitMs` for that (the program is ending); what waits is given up.
    void stop(int waitMs = 3000);

    bool isOn() const { return settings_.has_value(); }
    const std::optional<MqttSettings> &settings() const { return settings_; }

    // One valid reading of module `address`: <prefix>/<adr>/state and the
    // retained <prefix>/<adr>/last. `time` is the record time of the reading.
    void publishReading(int address, double temperature, double humidity, const QString &time);
    // An alarm of module `address` (kind and state as the alarm logic names
    // them), stamped with the current record time.
    void publishAlarm(int address, const QString &kind, const QString &state,
                      std::optional<double> value);

    const MqttStatus &status() const { return status_; }
    QString statusText() const { return text_; }

    // One connection attempt with `settings` (the settings window's test):
    // `done` runs once, in the thread of `context` and only while `context`
    // lives, with whether the broker accepted the connection and a sentence
    // for the operator. Nothing is published; the window does not wait.
    static void testConnection(const MqttSettings &settings, QObject *context,
                               std::function<void(bool accepted, const QString &text)> done,
                               int timeoutMs = 10000);

Q_SIGNALS:
    void stateChanged(const QString &statusText);
    void statusChanged(const MqttStatus &status);

private:
    void post(std::function<void(MqttConnection *)> call);
    void takeStatus(const MqttStatus &status);
    // The connection finishes in its thread, which then ends and goes; with
    // `waitMs` > 0 this waits (bounded) for that.
    void retire(int waitMs);

    QThread *thread_ = nullptr;
    MqttConnection *connection_ = nullptr;
    std::optional<MqttSettings> settings_;
    MqttConnection::Timing timing_;
    int queueLimit_ = MqttQueue::kDefaultLimit;
    MqttStatus status_;
    QString text_;
};
