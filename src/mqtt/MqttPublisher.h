#pragma once

#include "mqtt/MqttConnection.h"
#include "mqtt/MqttFormat.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/MqttStatus.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class Clock;
class LiteConnection;
class QThread;

// Publishes readings and alarms to the MQTT broker of the settings, from the
// thread that owns it, without ever waiting for the network: each call
// formats its messages and hands them to the connection, which runs in a
// thread of its own and queues them while the broker cannot be reached (at
// most 10,000; the oldest give way, and the status line says so once). With
// the modules known (setModules) and discovery on, Home Assistant is told
// about each module's temperature and humidity.
//
// It needs no window: a program with or without one makes it at start and
// calls stop() before it ends. Without settings nothing is published and
// nothing runs. The status line text comes with stateChanged() whenever it
// changes.
class MqttPublisher : public QObject {
    Q_OBJECT
public:
    // How long stop() waits by default: the goodbye itself gives up after 1 s.
    static constexpr int kStopWaitMs = 2000;

    explicit MqttPublisher(QObject *parent = nullptr);
    // `clock` stamps the readings ("ts") and measures the connection's pauses;
    // it must outlive the publisher and may be read from its thread.
    explicit MqttPublisher(const Clock &clock, QObject *parent = nullptr);
    // Never waits: a connection still running says "offline" in its own
    // thread if it has the time, and the broker's last will says it otherwise.
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
    // Says "offline", disconnects and ends the connection's thread; what
    // waits is given up. Waits at most `timeoutMs` for that (0: not at all,
    // the goodbye goes on in its thread). True when the thread has ended.
    // Publishing starts again only with apply().
    bool stop(int timeoutMs = kStopWaitMs);

    // Another program publishes for the same data folder (a logger): from
    // now on nothing goes out from here (a connection running ends), and
    // apply() only keeps the settings; the status line says `reason`. An
    // empty reason ends that; publishing starts again with apply().
    void setHeldElsewhere(const QString &reason);
    bool isHeldElsewhere() const { return !heldReason_.isEmpty(); }

    bool isOn() const { return settings_.has_value(); }
    const std::optional<MqttSettings> &settings() const { return settings_; }

    // The registered modules (address and model), whenever the list is
    // loaded: Home Assistant's discovery announces them, and takes back the
    // ones that went.
    void setModules(const QList<MqttModule> &modules);

    // One valid reading of module `address`: <prefix>/<adr>/state and the
    // retained <prefix>/<adr>/last. `time` is the record time of the reading;
    // "ts" is the clock's present instant.
    void publishReading(int address, double temperature, double humidity, const QString &time);
    // An alarm start or end of module `address`: kind and state as the alarm
    // log names them, `time` the alarm's own record time (the alarm log's).
    void publishAlarm(int address, const QString &kind, const QString &state,
                      std::optional<double> value, const QString &time);

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
    // Hands the connection the discovery of the present modules and settings,
    // with empty retained messages for configurations announced before that
    // no longer apply (Home Assistant then drops those sensors).
    void announce();
    // The connection finishes in its thread, which then ends and goes; with
    // `timeoutMs` > 0 this waits (bounded) for that.
    bool retire(int timeoutMs);
    // The present instant in milliseconds since 1970. The wall clock costs a
    // look at the time zone at each reading; so it is read once a second, and
    // the steady clock counts on from there.
    qint64 unixMsNow();

    const Clock &clock_;
    QThread *thread_ = nullptr;             // ends and deletes itself once the connection finished
    MqttConnection *connection_ = nullptr;  // lives in thread_ and goes with it
    std::optional<MqttSettings> settings_;
    MqttConnection::Timing timing_;
    int queueLimit_ = MqttQueue::kDefaultLimit;
    QList<MqttModule> modules_;
    QByteArrayList announced_;  // the configuration topics handed to the connection
    std::optional<qint64> wallMinusSteadyMs_;
    qint64 wallReadAtMs_ = 0;  // on the steady clock
    MqttStatus status_;
    QString text_;
    QString heldReason_;
};
