#include "mqtt/MqttConnection.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace {
void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// A client id of its own for every run of the program, so that two PCs (or
// the settings window's test beside the running program) never push each
// other off the broker.
QByteArray newClientId(const char *stem) {
    return QByteArray(stem) + '-' +
           QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0');
}

int publishOn(mosquitto *client, const MqttMessage &m, int *mid) {
    return mosquitto_publish(client, mid, m.topic.constData(), int(m.payload.size()),
                             m.payload.constData(), m.qos, m.retain);
}

bool connectionGone(int rc) {
    return rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO ||
           rc == MOSQ_ERR_NOMEM;
}
}  // namespace

MqttConnection::MqttConnection(Mode mode, QObject *parent) : QObject(parent), mode_(mode) {
    initLibrary();
    clientId_ = newClientId(mode == Mode::Publish ? "qx7daq" : "qx7probe");

    housekeepingTimer_ = new QTimer(this);
    housekeepingTimer_->setInterval(1000);
    connect(housekeepingTimer_, &QTimer::timeout, this, &MqttConnection::housekeeping);
    retryTimer_ = new QTimer(this);
    retryTimer_->setSingleShot(true);
    connect(retryTimer_, &QTimer::timeout, this, &MqttConnection::connectNow);
    connectTimer_ = new QTimer(this);
    connectTimer_->setSingleShot(true);
    connect(connectTimer_, &QTimer::timeout, this, [this] {
        teardown(QStringLiteral("连接超时（%1秒内没有应答）")
                     .arg((timing_.connectTimeoutMs + 999) / 1000));
    });
    goodbyeTimer_ = new QTimer(this);
    goodbyeTimer_->setSingleShot(true);
    connect(goodbyeTimer_, &QTimer::timeout, this, &MqttConnection::endGoodbye);
}

MqttConnection::~MqttConnection() {
    closeClient();
}

void MqttConnection::setQueueLimit(int limit) {
    queue_.setLimit(limit);
}

void MqttConnection::start(const MqttSettings &settings) {
    if (stopping_) {
        // A goodbye is under way: these settings follow it.
        afterGoodbye_ = [this, settings] {
            settings_ = settings;
            connectNow();
        };
        return;
    }
    if (settings == settings_ &&
        (state_ == MqttStatus::State::Connecting || state_ == MqttStatus::State::Connected))
        return;
    if (state_ == MqttStatus::State::Connected) {
        sayGoodbye([this, settings] {
            settings_ = settings;
            connectNow();
        });
        return;
    }
    settings_ = settings;
    retryMs_ = 0;
    connectNow();
}

void MqttConnection::enqueue(const QList<MqttMessage> &messages) {
    if (mode_ != Mode::Publish)
        return;
    int dropped = 0;
    for (const MqttMessage &m : messages) dropped += queue_.push(m);
    if (dropped > 0)
        overflow_ = true;
    pump();
    if (client_ && writeNotifier_)
        writeNotifier_->setEnabled(mosquitto_want_write(client_));
    report();
}

void MqttConnection::finish() {
    sayGoodbye([this] {
        queue_.clear();
        overflow_ = false;
        report();
        Q_EMIT finished();
    });
}

void MqttConnection::connectNow() {
    retryTimer_->stop();
    closeClient();
    accepted_ = false;
    refusal_ = -1;
    needPump_ = false;
    goodbyeAcknowledged_ = false;
    goodbyeMid_ = -1;

    client_ = mosquitto_new(clientId_.constData(), true, this);
    if (!client_) {
        teardown(QStringLiteral("无法创建MQTT客户端"));
        return;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Small messages, one at a time: each goes out at once.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client_, &MqttConnection::onConnect);
    mosquitto_publish_callback_set(client_, &MqttConnection::onPublish);
    if (mode_ == Mode::Publish) {
        // Whatever ends the connection without a goodbye (a crash, a pulled
        // cable), the broker then says "offline" for the program.
        const QByteArray topic = mqttformat::statusTopic(settings_.prefix);
        const QByteArray offline = mqttformat::offlinePayload();
        mosquitto_will_set(client_, topic.constData(), int(offline.size()), offline.constData(), 1,
                           true);
    }
    if (!settings_.username.isEmpty()) {
        const QByteArray user = settings_.username.toUtf8();
        const QByteArray password = settings_.password.toUtf8();
        mosquitto_username_pw_set(client_, user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (settings_.tls)
        mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);

    state_ = MqttStatus::State::Connecting;
    report();
    connectTimer_->start(timing_.connectTimeoutMs);
    const QByteArray host = settings_.host.trimmed().toUtf8();
    errno = 0;
    const int rc =
        mosquitto_connect_async(client_, host.constData(), settings_.port, timing_.keepaliveSec);
    const int systemError = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        teardown(mqttstatus::failure(rc, systemError));
        return;
    }
    const int fd = mosquitto_socket(client_);
    if (fd < 0) {
        teardown(mqttstatus::failure(MOSQ_ERR_NO_CONN, 0));
        return;
    }
    readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &MqttConnection::readable);
    writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &MqttConnection::writable);
    housekeepingTimer_->start();
    afterLibraryCall(MOSQ_ERR_SUCCESS, 0);
}

void MqttConnection::closeClient() {
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
    connectTimer_->stop();
    goodbyeTimer_->stop();
    if (client_) {
        mosquitto_destroy(client_);
        client_ = nullptr;
    }
}

void MqttConnection::teardown(const QString &reason) {
    closeClient();
    queue_.requeueInFlight();
    if (mode_ == Mode::Probe) {
        state_ = MqttStatus::State::Off;
        if (!probeReported_) {
            probeReported_ = true;
            Q_EMIT probeResult(false, probeText(false, reason));
        }
        Q_EMIT finished();
        return;
    }
    if (stopping_) {
        // The connection went during the goodbye; the stop goes on.
        runAfterGoodbye();
        return;
    }
    state_ = MqttStatus::State::Waiting;
    reason_ = reason;
    retryMs_ = retryMs_ <= 0 ? timing_.firstRetryMs : std::min(retryMs_ * 2, timing_.maxRetryMs);
    retryTimer_->start(retryMs_);
    report();
}

bool MqttConnection::socketFailed() {
    // A connection that the other side refused or that timed out shows as a
    // readable socket; the library would read nothing from it, again and again.
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(mosquitto_socket(client_), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0)
        return false;
    teardown(mqttstatus::failure(MOSQ_ERR_ERRNO, error));
    return true;
}

void MqttConnection::readable() {
    if (!client_)
        return;
    if (state_ == MqttStatus::State::Connecting && socketFailed())
        return;
    errno = 0;
    const int rc = mosquitto_loop_read(client_, 1);
    afterLibraryCall(rc, errno);
}

void MqttConnection::writable() {
    if (!client_)
        return;
    if (state_ == MqttStatus::State::Connecting && socketFailed())
        return;
    errno = 0;
    const int rc = mosquitto_loop_write(client_, 1);
    afterLibraryCall(rc, errno);
}

void MqttConnection::housekeeping() {
    if (!client_)
        return;
    errno = 0;
    const int rc = mosquitto_loop_misc(client_);
    afterLibraryCall(rc, errno);
}

void MqttConnection::afterLibraryCall(int rc, int systemError) {
    if (!client_)
        return;
    if (accepted_) {
        accepted_ = false;
        connected();
        if (!client_)
            return;
    }
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(client_) < 0) {
        if (refusal_ >= 0)
            teardown(mqttstatus::refusal(refusal_));
        else
            teardown(
                mqttstatus::failure(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, systemError));
        return;
    }
    if (goodbyeAcknowledged_) {
        endGoodbye();
        return;
    }
    if (needPump_) {
        needPump_ = false;
        pump();
        if (!client_)
            return;
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(mosquitto_want_write(client_));
    report();
}

void MqttConnection::connected() {
    connectTimer_->stop();
    state_ = MqttStatus::State::Connected;
    reason_.clear();
    retryMs_ = 0;
    if (mode_ == Mode::Probe) {
        probeReported_ = true;
        Q_EMIT probeResult(true, probeText(true, {}));
        mosquitto_disconnect(client_);
        closeClient();
        state_ = MqttStatus::State::Off;
        Q_EMIT finished();
        return;
    }
    const MqttMessage online{mqttformat::statusTopic(settings_.prefix), mqttformat::onlinePayload(),
                             true, 1};
    int mid = 0;
    errno = 0;
    const int rc = publishOn(client_, online, &mid);
    if (connectionGone(rc)) {
        teardown(mqttstatus::failure(rc, errno));
        return;
    }
    pump();
}

void MqttConnection::pump() {
    while (client_ && state_ == MqttStatus::State::Connected && !stopping_ && queue_.canSend()) {
        const MqttMessage m = *queue_.takeNext();
        int mid = 0;
        errno = 0;
        const int rc = publishOn(client_, m, &mid);
        if (rc == MOSQ_ERR_SUCCESS) {
            queue_.setInFlightId(mid);
        } else if (connectionGone(rc)) {
            teardown(mqttstatus::failure(rc, errno));  // the message waits again
            return;
        } else {
            queue_.dropInFlight();  // the library will never take this one
        }
    }
}

void MqttConnection::sayGoodbye(std::function<void()> then) {
    stopping_ = true;
    afterGoodbye_ = std::move(then);
    retryTimer_->stop();
    if (state_ != MqttStatus::State::Connected || !client_ || mode_ == Mode::Probe) {
        closeClient();
        queue_.requeueInFlight();
        runAfterGoodbye();
        return;
    }
    // A retained "offline" replaces "online"; the clean disconnect that
    // follows keeps the broker from sending the will as well.
    const MqttMessage offline{mqttformat::statusTopic(settings_.prefix),
                              mqttformat::offlinePayload(), true, 1};
    errno = 0;
    if (publishOn(client_, offline, &goodbyeMid_) != MOSQ_ERR_SUCCESS) {
        endGoodbye();
        return;
    }
    goodbyeTimer_->start(timing_.goodbyeMs);
    afterLibraryCall(MOSQ_ERR_SUCCESS, 0);
}

void MqttConnection::endGoodbye() {
    if (!stopping_)
        return;
    if (client_) {
        mosquitto_disconnect(client_);
        mosquitto_loop_write(client_, 1);
    }
    closeClient();
    queue_.requeueInFlight();
    runAfterGoodbye();
}

void MqttConnection::runAfterGoodbye() {
    std::function<void()> next = std::move(afterGoodbye_);
    afterGoodbye_ = nullptr;
    stopping_ = false;
    goodbyeAcknowledged_ = false;
    goodbyeMid_ = -1;
    state_ = MqttStatus::State::Off;
    reason_.clear();
    retryMs_ = 0;
    if (next)
        next();
}

void MqttConnection::report() {
    if (queue_.isEmpty())
        overflow_ = false;
    MqttStatus s;
    if (state_ != MqttStatus::State::Off) {
        s.state = state_;
        s.server = settings_.server();
        s.reason = reason_;
        s.retrySeconds = state_ == MqttStatus::State::Waiting ? (retryMs_ + 999) / 1000 : 0;
        s.queued = queue_.size();
        s.limit = queue_.limit();
        s.dropped = queue_.dropped();
        s.overflow = overflow_;
    }
    // While connected the count changes with every message; only whether
    // anything waits is news.
    auto news = [](MqttStatus x) {
        if (x.state == MqttStatus::State::Connected)
            x.queued = x.queued > 0 ? 1 : 0;
        return x;
    };
    const bool changed = !(news(s) == news(reported_));
    reported_ = s;
    if (changed)
        Q_EMIT statusChanged(s);
}

QString MqttConnection::probeText(bool accepted, const QString &reason) const {
    if (accepted)
        return QStringLiteral("连接成功：MQTT代理 ") + settings_.server() +
               (settings_.tls ? QStringLiteral(" 通过TLS") : QString()) +
               QStringLiteral(" 接受了连接。");
    return QStringLiteral("无法连接MQTT代理 ") + settings_.server() + QStringLiteral("：") +
           reason + QStringLiteral("。");
}

void MqttConnection::onConnect(mosquitto *, void *self, int code) {
    auto *c = static_cast<MqttConnection *>(self);
    if (code == 0)
        c->accepted_ = true;
    else
        c->refusal_ = code;
}

void MqttConnection::onPublish(mosquitto *, void *self, int mid) {
    auto *c = static_cast<MqttConnection *>(self);
    if (c->stopping_ && mid == c->goodbyeMid_)
        c->goodbyeAcknowledged_ = true;
    else if (c->queue_.acknowledge(mid))
        c->needPump_ = true;
}
