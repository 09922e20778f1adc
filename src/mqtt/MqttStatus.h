#pragma once

#include <QMetaType>
#include <QString>

// The state of the publishing as the frame's status line tells it.
struct MqttStatus {
    enum class State {
        Off,         // no settings: nothing is published
        Connecting,  // an attempt is under way
        Connected,   // the broker accepted the connection
        Waiting,     // not connected; the next attempt comes after a pause
    };
    State state = State::Off;
    QString server;         // "host:port"
    QString reason;         // Waiting: why the last attempt failed or the connection went
    int retrySeconds = 0;   // Waiting: the pause before the next attempt
    int queued = 0;         // messages waiting for the broker (or on their way)
    int limit = 0;          // the most messages that may wait
    quint64 dropped = 0;    // messages dropped because the queue was full
    bool overflow = false;  // the queue has been full since it was last empty

    friend bool operator==(const MqttStatus &, const MqttStatus &) = default;
};
Q_DECLARE_METATYPE(MqttStatus)

namespace mqttstatus {

// The line for the frame's status bar; empty while publishing is off.
//   MQTT：正在连接 127.0.0.1:1883
//   MQTT：已连接 127.0.0.1:1883
//   MQTT：未连接 127.0.0.1:1883（连接被拒绝…），4秒后重试，待发送 12 条
//   MQTT：未连接 …，4秒后重试；队列已满（10000 条），最早的消息被丢弃
QString text(const MqttStatus &status);

// Why the broker refused a connection, from the code of its answer.
QString refusal(int connackCode);
// Why a connection could not be made or was lost, from the client library's
// result and the system's error number.
QString failure(int libraryResult, int systemError);
// Why a TLS handshake failed, from OpenSSL's words (empty when it gave none):
// a certificate that is not trusted, or a broker that does not answer in TLS.
QString tlsFailure(const QString &opensslText);

}  // namespace mqttstatus
