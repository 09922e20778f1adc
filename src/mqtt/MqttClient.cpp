#include "mqtt/MqttClient.h"

#include "mqtt/MqttSocket.h"
#include "mqtt/MqttStatus.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <mutex>

namespace {
void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

bool connectionGone(int rc) {
    return rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO ||
           rc == MOSQ_ERR_NOMEM;
}
}  // namespace

void MqttTransportDeleter::operator()(MqttTransport *transport) const {
    transport->close();
    transport->deleteLater();
}

QByteArray newMqttClientId(const char *stem) {
    return QByteArray(stem) + '-' +
           QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0');
}

MqttClient::MqttClient(const MqttSettings &settings, const Options &options, QObject *parent)
    : MqttTransport(parent), settings_(settings), options_(options) {
    initLibrary();
    housekeepingTimer_ = new QTimer(this);
    housekeepingTimer_->setInterval(1000);
    connect(housekeepingTimer_, &QTimer::timeout, this, &MqttClient::housekeeping);
}

MqttClient::~MqttClient() {
    close();
}

QString MqttClient::open() {
    client_ = mosquitto_new(options_.clientId.constData(), true, this);
    if (!client_)
        return QStringLiteral("无法创建MQTT客户端");
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Small messages, one at a time: each goes out at once.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client_, &MqttClient::onConnect);
    mosquitto_publish_callback_set(client_, &MqttClient::onPublish);
    mosquitto_message_callback_set(client_, &MqttClient::onMessage);
    mosquitto_log_callback_set(client_, &MqttClient::onLog);
    if (const std::optional<MqttMessage> &will = options_.will)
        mosquitto_will_set(client_, will->topic.constData(), int(will->payload.size()),
                           will->payload.constData(), will->qos, will->retain);
    if (!settings_.username.isEmpty()) {
        const QByteArray user = settings_.username.toUtf8();
        const QByteArray password = settings_.password.toUtf8();
        mosquitto_username_pw_set(client_, user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (settings_.tls)
        mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);

    const QByteArray host = settings_.host.trimmed().toUtf8();
    mqttsocket::clearLastError();
    const int rc =
        mosquitto_connect_async(client_, host.constData(), settings_.port, options_.keepaliveSec);
    const int systemError = mqttsocket::lastError();
    const int fd = rc == MOSQ_ERR_SUCCESS ? mosquitto_socket(client_) : -1;
    if (fd < 0) {
        const QString why = failure(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_NO_CONN : rc, systemError);
        close();
        return why;
    }
    readNotifier_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &MqttClient::readable);
    writeNotifier_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &MqttClient::writable);
    housekeepingTimer_->start();
    return {};
}

void MqttClient::close() {
    for (QSocketNotifier **n : {&readNotifier_, &writeNotifier_}) {
        if (*n) {
            // Off at once (the library closes the socket, and its number may
            // be reused); the object itself goes when its signal is over.
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    housekeepingTimer_->stop();
    noted_.clear();
    if (client_) {
        mosquitto_destroy(client_);
        client_ = nullptr;
    }
}

MqttTransport::Sent MqttClient::publish(const MqttMessage &m) {
    if (!client_)
        return {Sent::Outcome::Gone, -1, mqttstatus::failure(MOSQ_ERR_NO_CONN, 0)};
    int mid = -1;
    mqttsocket::clearLastError();
    const int rc = mosquitto_publish(client_, &mid, m.topic.constData(), int(m.payload.size()),
                                     m.payload.constData(), m.qos, m.retain);
    if (rc == MOSQ_ERR_SUCCESS) {
        if (writeNotifier_)
            writeNotifier_->setEnabled(mosquitto_want_write(client_));
        return {Sent::Outcome::Sent, mid, {}};
    }
    if (connectionGone(rc))
        return {Sent::Outcome::Gone, -1, failure(rc, mqttsocket::lastError())};
    return {Sent::Outcome::Refused, -1, failure(rc, 0)};
}

void MqttClient::subscribe(const QByteArray &filter) {
    if (!client_)
        return;
    mosquitto_subscribe(client_, nullptr, filter.constData(), 0);
    if (writeNotifier_)
        writeNotifier_->setEnabled(mosquitto_want_write(client_));
}

void MqttClient::disconnect() {
    if (!client_)
        return;
    mosquitto_disconnect(client_);
    mosquitto_loop_write(client_, 1);
    close();
}

bool MqttClient::tcpConnected() {
    if (phase_ != Phase::Connecting)
        return true;
    // A connection that the other side refused or that timed out shows as a
    // readable socket; the library would read nothing from it, again and
    // again. A reset says that the line stood (on the loopback it may stand
    // before the first look, the first TLS words already sent on it).
    const int error = mqttsocket::pendingError(mosquitto_socket(client_));
    using F = mqttsocket::Failure;
    const F kind = mqttsocket::kind(error);
    if (error == 0 || (kind != F::Refused && kind != F::TimedOut && kind != F::HostUnreachable &&
                       kind != F::NetworkUnreachable))
        phase_ = Phase::Greeting;
    if (error != 0) {
        afterLibraryCall(MOSQ_ERR_ERRNO, error);
        return false;
    }
    return true;
}

void MqttClient::readable() {
    if (!client_ || !tcpConnected())
        return;
    mqttsocket::clearLastError();
    const int rc = mosquitto_loop_read(client_, 1);
    afterLibraryCall(rc, mqttsocket::lastError());
}

void MqttClient::writable() {
    if (!client_ || !tcpConnected())
        return;
    mqttsocket::clearLastError();
    const int rc = mosquitto_loop_write(client_, 1);
    afterLibraryCall(rc, mqttsocket::lastError());
}

void MqttClient::housekeeping() {
    if (!client_)
        return;
    mqttsocket::clearLastError();
    const int rc = mosquitto_loop_misc(client_);
    afterLibraryCall(rc, mqttsocket::lastError());
}

void MqttClient::afterLibraryCall(int rc, int systemError) {
    if (!client_)
        return;
    const bool gone = rc != MOSQ_ERR_SUCCESS || mosquitto_socket(client_) < 0;
    // A refusal comes with the end of the line: it is the reason.
    const std::vector<Noted> noted = std::exchange(noted_, {});
    for (const Noted &n : noted) {
        if (!client_)
            return;  // closed by a receiver
        switch (n.kind) {
            case Noted::Kind::Accepted:
                phase_ = Phase::Accepted;
                Q_EMIT accepted();
                break;
            case Noted::Kind::Refused:
                phase_ = Phase::Accepted;  // the line stood: not a TLS matter
                close();
                Q_EMIT refused(n.code);
                return;
            case Noted::Kind::Acknowledged:
                Q_EMIT acknowledged(n.code);
                break;
            case Noted::Kind::Received:
                Q_EMIT received(n.topic, n.payload);
                break;
        }
    }
    if (!client_)
        return;
    if (gone) {
        const QString why = failure(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, systemError);
        close();
        Q_EMIT lost(why);
        return;
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(mosquitto_want_write(client_));
}

QString MqttClient::failure(int rc, int systemError) const {
    // With TLS, a line that stood and ended before the broker's answer ended
    // in the handshake: a broker that does not speak TLS on this port drops
    // it, and one whose certificate is not trusted is dropped. OpenSSL's own
    // words, when it gave any, tell which.
    if (settings_.tls && (phase_ == Phase::Greeting || rc == MOSQ_ERR_TLS))
        return mqttstatus::tlsFailure(tlsError_);
    return mqttstatus::failure(rc, systemError);
}

void MqttClient::onConnect(mosquitto *, void *self, int code) {
    auto *c = static_cast<MqttClient *>(self);
    c->noted_.push_back({code == 0 ? Noted::Kind::Accepted : Noted::Kind::Refused, code, {}, {}});
}

void MqttClient::onPublish(mosquitto *, void *self, int mid) {
    static_cast<MqttClient *>(self)->noted_.push_back({Noted::Kind::Acknowledged, mid, {}, {}});
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *m) {
    static_cast<MqttClient *>(self)->noted_.push_back(
        {Noted::Kind::Received, 0, QByteArray(m->topic),
         QByteArray(static_cast<const char *>(m->payload), m->payloadlen)});
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text) {
    // libmosquitto logs OpenSSL's reasons for a failed handshake, and nothing
    // else gives them.
    auto *c = static_cast<MqttClient *>(self);
    if (level == MOSQ_LOG_ERR && qstrncmp(text, "OpenSSL Error", 13) == 0 && c->tlsError_.isEmpty())
        c->tlsError_ = QString::fromUtf8(text);
}
