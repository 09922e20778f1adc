#include "mqtt/MqttConnection.h"

#include "store/Clock.h"

#include <QTimer>

#include <algorithm>

namespace {
MqttTransportPtr openClient(const MqttSettings &settings, const MqttMessage &will, int keepaliveSec,
                            QString *error) {
    auto client = std::make_unique<MqttClient>(
        settings, MqttClient::Options{newMqttClientId("qx7daq"), will, keepaliveSec});
    *error = client->open();
    if (!error->isEmpty())
        return nullptr;
    return MqttTransportPtr(client.release());
}
}  // namespace

MqttConnection::MqttConnection(const Clock &clock, TransportFactory factory, QObject *parent)
    : QObject(parent), clock_(clock), factory_(factory ? std::move(factory) : openClient) {
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &MqttConnection::tick);
}

MqttConnection::~MqttConnection() = default;

void MqttConnection::setQueueLimit(int limit) {
    queue_.setLimit(limit);
}

void MqttConnection::start(const MqttSettings &settings) {
    switch (state_) {
        case State::Finished:
            return;
        case State::SayingGoodbye:
            next_ = settings;  // after the goodbye
            return;
        case State::Connected:
            if (settings == settings_)
                return;
            next_ = settings;
            beginGoodbye();
            return;
        case State::Connecting:
            if (settings == settings_)
                return;
            break;
        case State::Idle:
        case State::Waiting:
            break;
    }
    settings_ = settings;
    retryMs_ = 0;
    connectNow();
}

void MqttConnection::enqueue(const QList<MqttMessage> &messages) {
    if (state_ == State::Finished)
        return;
    for (const MqttMessage &m : messages) queue_.push(m);
    pump();
    report();
}

void MqttConnection::setDiscovery(const QList<MqttMessage> &configs, const QByteArray &birthTopic) {
    const bool newBirthTopic = birthTopic != birthTopic_;
    discovery_ = configs;
    birthTopic_ = birthTopic;
    if (state_ == State::Connected && newBirthTopic && !birthTopic_.isEmpty())
        transport_->subscribe(birthTopic_);
    enqueue(configs);
}

void MqttConnection::finish() {
    next_.reset();
    switch (state_) {
        case State::Connected:
            beginGoodbye();
            return;
        case State::SayingGoodbye:
            return;  // ends in Finished now that nothing follows
        case State::Finished:
            return;
        case State::Idle:
        case State::Connecting:
        case State::Waiting:
            closeTransport();
            queue_.clear();
            deadlineMs_.reset();
            setState(State::Finished);
            Q_EMIT finished();
            return;
    }
}

void MqttConnection::connectNow() {
    closeTransport();
    goodbyeMid_ = -1;
    setDeadline(timing_.connectTimeoutMs);
    setState(State::Connecting);
    report();  // also when Connecting already: the server may be another one

    // Whatever ends the connection without a goodbye (a crash, a pulled
    // cable), the broker then says "offline" for the program.
    const MqttMessage will{mqttformat::statusTopic(settings_.prefix), mqttformat::offlinePayload(),
                           true, 1};
    QString error;
    transport_ = factory_(settings_, will, timing_.keepaliveSec, &error);
    if (!transport_) {
        endAttempt(error);
        return;
    }
    MqttTransport *t = transport_.get();
    connect(t, &MqttTransport::accepted, this, &MqttConnection::onConnectAccepted);
    connect(t, &MqttTransport::refused, this, &MqttConnection::onConnectRefused);
    connect(t, &MqttTransport::lost, this, &MqttConnection::onConnectLost);
    connect(t, &MqttTransport::acknowledged, this, &MqttConnection::onPublishAcknowledged);
    connect(t, &MqttTransport::received, this, &MqttConnection::onMessageReceived);
}

void MqttConnection::onConnectAccepted() {
    if (state_ != State::Connecting)
        return;
    deadlineMs_.reset();
    reason_.clear();
    retryMs_ = 0;
    setState(State::Connected);
    const MqttTransport::Sent sent = transport_->publish(
        {mqttformat::statusTopic(settings_.prefix), mqttformat::onlinePayload(), true, 1});
    if (sent.outcome == MqttTransport::Sent::Outcome::Gone) {
        endAttempt(sent.reason);
        return;
    }
    if (!birthTopic_.isEmpty())
        transport_->subscribe(birthTopic_);
    // Retained, so a copy still waiting from before is replaced, not doubled.
    for (const MqttMessage &m : std::as_const(discovery_)) queue_.push(m);
    pump();
    report();
}

void MqttConnection::onConnectRefused(int connackCode) {
    if (state_ == State::Connecting)
        endAttempt(mqttstatus::refusal(connackCode));
}

void MqttConnection::onConnectLost(const QString &reason) {
    if (state_ == State::Connecting || state_ == State::Connected)
        endAttempt(reason);
    else if (state_ == State::SayingGoodbye)
        onGoodbyeDone();  // nothing more to say on that line
}

void MqttConnection::onPublishAcknowledged(int mid) {
    if (state_ == State::SayingGoodbye && mid == goodbyeMid_) {
        onGoodbyeDone();
        return;
    }
    if (queue_.acknowledge(mid)) {
        pump();
        report();
    }
}

void MqttConnection::onMessageReceived(const QByteArray &topic, const QByteArray &payload) {
    // Home Assistant announces its start: it wants the configurations again.
    if (state_ == State::Connected && topic == birthTopic_ &&
        payload == mqttformat::onlinePayload())
        enqueue(discovery_);
}

void MqttConnection::tick() {
    if (!deadlineMs_)
        return;
    const qint64 left = *deadlineMs_ - clock_.steadyMs();
    if (left > 0) {
        timer_->start(int(std::min<qint64>(left, 24 * 3600 * 1000)));
        return;
    }
    deadlineMs_.reset();
    switch (state_) {
        case State::Waiting:
            onBackoffElapsed();
            break;
        case State::Connecting:
            onConnectTimedOut();
            break;
        case State::SayingGoodbye:
            onGoodbyeDone();
            break;
        case State::Idle:
        case State::Connected:
        case State::Finished:
            break;
    }
}

void MqttConnection::onBackoffElapsed() {
    connectNow();
}

void MqttConnection::onConnectTimedOut() {
    endAttempt(
        QStringLiteral("连接超时（%1秒内没有应答）").arg((timing_.connectTimeoutMs + 999) / 1000));
}

void MqttConnection::onGoodbyeDone() {
    if (transport_)
        transport_->disconnect();
    closeTransport();
    deadlineMs_.reset();
    reason_.clear();
    retryMs_ = 0;
    if (next_) {
        settings_ = *std::exchange(next_, std::nullopt);
        connectNow();
        return;
    }
    queue_.clear();
    setState(State::Finished);
    report();
    Q_EMIT finished();
}

void MqttConnection::setState(State state) {
    if (state == state_)
        return;
    state_ = state;
    Q_EMIT stateChanged(state_);
    report();
}

void MqttConnection::endAttempt(const QString &reason) {
    closeTransport();
    reason_ = reason;
    retryMs_ = retryMs_ <= 0 ? timing_.firstRetryMs : std::min(retryMs_ * 2, timing_.maxRetryMs);
    setDeadline(retryMs_);
    setState(State::Waiting);
    report();  // a new reason or pause, when Waiting already
}

void MqttConnection::closeTransport() {
    if (transport_) {
        QObject::disconnect(transport_.get(), nullptr, this, nullptr);
        transport_.reset();
    }
    queue_.requeueInFlight();
}

void MqttConnection::beginGoodbye() {
    setState(State::SayingGoodbye);
    // A retained "offline" replaces "online"; the clean disconnect that
    // follows keeps the broker from sending the will as well.
    const MqttTransport::Sent sent = transport_->publish(
        {mqttformat::statusTopic(settings_.prefix), mqttformat::offlinePayload(), true, 1});
    if (sent.outcome != MqttTransport::Sent::Outcome::Sent) {
        onGoodbyeDone();
        return;
    }
    goodbyeMid_ = sent.mid;
    setDeadline(timing_.goodbyeMs);
}

void MqttConnection::pump() {
    while (state_ == State::Connected && queue_.canSend()) {
        const MqttTransport::Sent sent = transport_->publish(*queue_.takeNext());
        switch (sent.outcome) {
            case MqttTransport::Sent::Outcome::Sent:
                queue_.setInFlightId(sent.mid);
                break;
            case MqttTransport::Sent::Outcome::Gone:
                endAttempt(sent.reason);  // the message waits again
                return;
            case MqttTransport::Sent::Outcome::Refused:
                queue_.dropInFlight();
                break;
        }
    }
}

void MqttConnection::setDeadline(int fromNowMs) {
    deadlineMs_ = clock_.steadyMs() + fromNowMs;
    timer_->start(fromNowMs);
}

void MqttConnection::report() {
    MqttStatus s;
    switch (state_) {
        case State::Idle:
        case State::Finished:
            break;
        case State::Connecting:
            s.state = MqttStatus::State::Connecting;
            break;
        case State::Connected:
        case State::SayingGoodbye:
            s.state = MqttStatus::State::Connected;
            break;
        case State::Waiting:
            s.state = MqttStatus::State::Waiting;
            s.reason = reason_;
            s.retrySeconds = (retryMs_ + 999) / 1000;
            break;
    }
    if (s.state != MqttStatus::State::Off) {
        s.server = settings_.server();
        s.queued = queue_.size();
        s.limit = queue_.limit();
        s.dropped = queue_.dropped();
        s.overflow = queue_.overflowing();
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
