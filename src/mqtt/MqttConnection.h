#pragma once

#include "mqtt/MqttClient.h"
#include "mqtt/MqttQueue.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/MqttStatus.h"

#include <QObject>

#include <functional>
#include <optional>

class Clock;
class QTimer;

// The program's connection to the broker, driven by the event loop of the
// thread it lives in (the publisher gives it a thread of its own, so that name
// lookups and TLS handshakes never hold up the window). A transport does the
// protocol; this object keeps the queue and decides when to connect, send,
// say goodbye and try again.
//
// Its life is one state at a time:
//
//   Idle ──start──> Connecting ──accepted──> Connected ──stop──> SayingGoodbye ──> Finished
//                    │   ^                     │                  (new settings: Connecting)
//        refused, lost,  │ backoff elapsed      │ lost
//        timed out   v   │                     v
//                    Waiting <─────────────────┘
//
// Each attempt uses a new transport, so that the queue here is the only
// record of what still has to go: after a reconnection the queue carries on
// in order with the message whose acknowledgement was missing.
//
// Every function runs in the object's own thread (the publisher posts calls).
// The pauses and time limits are measured on the clock given, checked when
// the object's timer fires (and by tick(), which tests call).
class MqttConnection : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,           // not started
        Connecting,     // an attempt is under way
        Connected,      // the broker accepted: messages go out
        Waiting,        // the pause before the next attempt
        SayingGoodbye,  // "offline" is on its way; then the line closes
        Finished,       // stopped for good
    };
    Q_ENUM(State)

    struct Timing {
        int firstRetryMs = 1000;  // pause after the first failure; doubles up to maxRetryMs
        int maxRetryMs = 60000;
        int connectTimeoutMs = 10000;  // an attempt without the broker's answer is given up
        int keepaliveSec = 30;
        int goodbyeMs = 1000;  // how long a stop waits for "offline" to be acknowledged
    };

    // Makes the transport of one attempt, with the program's last will.
    using TransportFactory = std::function<MqttTransportPtr(
        const MqttSettings &settings, const MqttMessage &will, int keepaliveSec, QString *error)>;

    // Without a factory, attempts go through libmosquitto (MqttClient).
    explicit MqttConnection(const Clock &clock, TransportFactory factory = {},
                            QObject *parent = nullptr);
    ~MqttConnection() override;

    void setTiming(const Timing &timing) { timing_ = timing; }
    void setQueueLimit(int limit);

    // Connects with these settings; a connection with other settings says
    // goodbye first. While a pause before the next attempt runs, the attempt
    // comes at once. The queue stays.
    void start(const MqttSettings &settings);
    // Queues messages and sends what the connection allows.
    void enqueue(const QList<MqttMessage> &messages);
    // The retained configurations that announce the modules to Home
    // Assistant: sent now and after every connection, and again whenever
    // `birthTopic` says "online" (Home Assistant started). Empty: none.
    void setDiscovery(const QList<MqttMessage> &configs, const QByteArray &birthTopic);
    // Says "offline", disconnects and emits finished(). Nothing is retried;
    // what waits is given up.
    void finish();

    State state() const { return state_; }
    const MqttStatus &status() const { return reported_; }

    // What happens on the line, each a transition named by its reason. The
    // transport's signals call them; tests call them to walk the states.
    void onConnectAccepted();
    void onConnectRefused(int connackCode);
    void onConnectLost(const QString &reason);
    void onPublishAcknowledged(int mid);
    void onMessageReceived(const QByteArray &topic, const QByteArray &payload);
    // Looks at the clock: a pause that has run out, an attempt or a goodbye
    // that took too long.
    void tick();

Q_SIGNALS:
    void stateChanged(MqttConnection::State state);
    void statusChanged(const MqttStatus &status);
    void finished();

private:
    // The transitions that the clock or a request brings.
    void onBackoffElapsed();
    void onConnectTimedOut();
    void onGoodbyeDone();

    void setState(State state);
    void connectNow();
    // The attempt or the connection is over: its transport goes, the message
    // in flight waits again, and the pause before the next attempt begins.
    void endAttempt(const QString &reason);
    void closeTransport();
    void beginGoodbye();
    void pump();
    void setDeadline(int fromNowMs);
    void report();

    const Clock &clock_;
    TransportFactory factory_;
    Timing timing_;
    QTimer *timer_ = nullptr;  // fires at the deadline
    State state_ = State::Idle;
    MqttSettings settings_;
    // Settings to connect with once the goodbye of the present connection is over.
    std::optional<MqttSettings> next_;
    MqttTransportPtr transport_;
    MqttQueue queue_;
    std::optional<qint64>
        deadlineMs_;   // on the steady clock; what happens then depends on the state
    int retryMs_ = 0;  // the present or the last pause
    QString reason_;   // why the last attempt failed
    int goodbyeMid_ = -1;
    QList<MqttMessage> discovery_;
    QByteArray birthTopic_;
    MqttStatus reported_;
};
