#pragma once

#include "mqtt/MqttQueue.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/MqttStatus.h"

#include <QObject>

#include <functional>

struct mosquitto;
class QSocketNotifier;
class QTimer;

// One client of the broker, driven by the event loop of the thread it lives
// in (the publisher gives it a thread of its own, so that name lookups and
// TLS handshakes never hold up the window). libmosquitto does the protocol;
// this object watches its socket, keeps the queue, and decides when to
// connect, send and try again.
//
// Each connection attempt uses a new libmosquitto client, so that the queue
// here is the only record of what still has to go: the library never sends
// anything again by itself, and after a reconnection the queue carries on
// in order with the message whose acknowledgement was missing.
//
// Every function runs in the object's own thread (the publisher posts calls).
class MqttConnection : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int firstRetryMs = 1000;  // pause after the first failure; doubles up to maxRetryMs
        int maxRetryMs = 60000;
        int connectTimeoutMs = 10000;  // an attempt without the broker's answer is given up
        int keepaliveSec = 30;
        int goodbyeMs = 1000;  // how long a clean stop waits for "offline" to be acknowledged
    };
    // Publish: the program's connection (will, status, queue, reconnection).
    // Probe: one attempt that reports whether the broker accepts the login.
    enum class Mode { Publish, Probe };

    explicit MqttConnection(Mode mode = Mode::Publish, QObject *parent = nullptr);
    ~MqttConnection() override;

    void setTiming(const Timing &timing) { timing_ = timing; }
    void setQueueLimit(int limit);

    // Connects with these settings; a connection with other settings says
    // goodbye first. While a pause before the next attempt runs, the attempt
    // comes at once. The queue stays.
    void start(const MqttSettings &settings);
    // Queues messages and sends what the connection allows.
    void enqueue(const QList<MqttMessage> &messages);
    // Says "offline", disconnects and emits finished(). Nothing is retried.
    void finish();

    const MqttStatus &status() const { return reported_; }

Q_SIGNALS:
    void statusChanged(const MqttStatus &status);
    // Probe mode: once, whether the broker accepted the connection.
    void probeResult(bool accepted, const QString &text);
    void finished();

private:
    void connectNow();
    // The connection is over: the library client goes, the message in flight
    // waits again; then a retry is planned, or the stop goes on.
    void teardown(const QString &reason);
    void closeClient();
    // After every call into the library: errors, the socket, write interest,
    // and what the callbacks noted.
    void afterLibraryCall(int rc, int systemError);
    void connected();
    void readable();
    void writable();
    void housekeeping();
    bool socketFailed();
    void pump();
    void sayGoodbye(std::function<void()> then);
    void endGoodbye();
    void runAfterGoodbye();
    void report();
    QString probeText(bool accepted, const QString &reason) const;

    static void onConnect(mosquitto *client, void *self, int code);
    static void onPublish(mosquitto *client, void *self, int mid);

    Mode mode_;
    Timing timing_;
    MqttSettings settings_;
    QByteArray clientId_;
    mosquitto *client_ = nullptr;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QTimer *housekeepingTimer_ = nullptr;  // keepalive pings, once a second
    QTimer *retryTimer_ = nullptr;
    QTimer *connectTimer_ = nullptr;
    QTimer *goodbyeTimer_ = nullptr;
    MqttQueue queue_;

    MqttStatus::State state_ = MqttStatus::State::Off;
    QString reason_;
    int retryMs_ = 0;
    bool overflow_ = false;

    // Noted by the callbacks, acted on after the library call returns.
    bool accepted_ = false;
    int refusal_ = -1;
    bool needPump_ = false;
    bool goodbyeAcknowledged_ = false;

    int goodbyeMid_ = -1;
    bool stopping_ = false;
    std::function<void()> afterGoodbye_;
    bool probeReported_ = false;

    MqttStatus reported_;
};
