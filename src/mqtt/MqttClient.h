#pragma once

#include "mqtt/MqttFormat.h"
#include "mqtt/MqttSettings.h"

#include <QObject>

#include <memory>
#include <optional>
#include <vector>

struct mosquitto;
class QSocketNotifier;
class QTimer;

// One connection to a broker, from the attempt to its end, as the publishing
// connection and the settings window's test see it. What happens on the
// line comes as signals, always after the library call that noticed it has
// returned, so a receiver may close the transport from its slot.
class MqttTransport : public QObject {
    Q_OBJECT
public:
    struct Sent {
        enum class Outcome {
            Sent,     // on its way; acknowledged() follows with `mid`
            Gone,     // the connection is gone: the message waits for the next one
            Refused,  // the library will never take this message
        };
        Outcome outcome = Outcome::Sent;
        int mid = -1;
        QString reason;  // Gone: why, for the status line
    };

    using QObject::QObject;

    virtual Sent publish(const MqttMessage &message) = 0;
    virtual void subscribe(const QByteArray &filter) = 0;
    // A clean end: the broker is told (so it keeps the last will to itself)
    // and the line closes.
    virtual void disconnect() = 0;
    // Ends at once, without a word to the broker; no signal comes after it.
    virtual void close() = 0;

Q_SIGNALS:
    void accepted();
    void refused(int connackCode);
    void lost(const QString &reason);
    void acknowledged(int mid);
    void received(const QByteArray &topic, const QByteArray &payload);
};

// Closes a transport and lets it go once the signal it may be in is over.
struct MqttTransportDeleter {
    void operator()(MqttTransport *transport) const;
};
using MqttTransportPtr = std::unique_ptr<MqttTransport, MqttTransportDeleter>;

// A client id of its own for every connection of a run of the program, so
// that two PCs (or the settings window's test beside the running program)
// never push each other off the broker.
QByteArray newMqttClientId(const char *stem);

// The transport over libmosquitto, driven by the event loop of its thread:
// it watches the library's socket and does its housekeeping (keepalive
// pings) once a second.
class MqttClient : public MqttTransport {
    Q_OBJECT
public:
    struct Options {
        QByteArray clientId;
        std::optional<MqttMessage> will;  // what the broker says when the line breaks
        int keepaliveSec = 30;
    };

    MqttClient(const MqttSettings &settings, const Options &options, QObject *parent = nullptr);
    ~MqttClient() override;

    // Starts the attempt (the name lookup happens here, in the caller's
    // thread). An empty text when it is under way; otherwise why it could not
    // start, and the transport is closed.
    QString open();

    Sent publish(const MqttMessage &message) override;
    void subscribe(const QByteArray &filter) override;
    void disconnect() override;
    void close() override;

private:
    void readable();
    void writable();
    void housekeeping();
    // After each call into the library: its result, write interest, and the
    // signals for what its callbacks noted.
    void afterLibraryCall(int rc, int systemError);
    // While connecting: false (and the attempt is over) when the other side
    // refused or did not answer.
    bool tcpConnected();
    QString failure(int rc, int systemError) const;

    static void onConnect(mosquitto *, void *self, int code);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    MqttSettings settings_;
    Options options_;
    mosquitto *client_ = nullptr;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QTimer *housekeepingTimer_ = nullptr;
    enum class Phase {
        Connecting,  // the TCP connection is being made
        Greeting,    // it stands: TLS handshake (with TLS) and the broker's answer to come
        Accepted,    // the broker accepted
    };
    Phase phase_ = Phase::Connecting;

    // What the callbacks noted during a library call, in order.
    struct Noted {
        enum class Kind { Accepted, Refused, Acknowledged, Received } kind;
        int code = 0;
        QByteArray topic;
        QByteArray payload;
    };
    std::vector<Noted> noted_;
    QString tlsError_;  // OpenSSL's words for a failed handshake, from the library's log
};
