#include "mqtt/MqttPublisher.h"

#include "mqtt/MqttProbe.h"
#include "store/Clock.h"
#include "store/ValueText.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {
// `worker` lives in `thread` and goes with it: when `finished` comes, the
// thread's event loop ends, and both are deleted.
template <typename Worker, typename Finished>
void tieToThread(Worker *worker, QThread *thread, Finished finished) {
    worker->moveToThread(thread);
    QObject::connect(worker, finished, thread, &QThread::quit, Qt::DirectConnection);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}
}  // namespace

MqttPublisher::MqttPublisher(QObject *parent) : MqttPublisher(Clock::system(), parent) {}

MqttPublisher::MqttPublisher(const Clock &clock, QObject *parent) : QObject(parent), clock_(clock) {
    // The program may end without stopping it; "offline" still goes out.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { stop(); });
}

MqttPublisher::~MqttPublisher() {
    // As stop(0), without a word to receivers that may be going as well.
    retire(0);
}

void MqttPublisher::apply(const std::optional<MqttSettings> &settings) {
    if (!settings) {
        if (settings_ || connection_) {
            settings_.reset();
            retire(0);
            takeStatus(MqttStatus{});
        }
        return;
    }
    settings_ = settings;
    if (isHeldElsewhere())
        return;
    if (!connection_) {
        thread_ = new QThread;
        thread_->setObjectName(QStringLiteral("mqtt"));
        connection_ = new MqttConnection(clock_);
        connection_->setTiming(timing_);
        connection_->setQueueLimit(queueLimit_);
        connect(connection_, &MqttConnection::statusChanged, this, &MqttPublisher::takeStatus);
        tieToThread(connection_, thread_, &MqttConnection::finished);
        thread_->start();
    }
    const MqttSettings s = *settings;
    post([s](MqttConnection *c) { c->start(s); });
    announce();
}

QString MqttPublisher::applyFrom(LiteConnection &db) {
    const mqttsettings::Loaded loaded = mqttsettings::load(db);
    apply(loaded.settings);
    if (!loaded.error.isEmpty() && loaded.error != text_) {
        text_ = loaded.error;
        Q_EMIT stateChanged(text_);
    }
    return loaded.error;
}

void MqttPublisher::setHeldElsewhere(const QString &reason) {
    if (reason == heldReason_)
        return;
    heldReason_ = reason;
    if (!reason.isEmpty())
        retire(0);
    takeStatus(MqttStatus{});
}

bool MqttPublisher::stop(int timeoutMs) {
    settings_.reset();
    if (!connection_)
        return true;
    const bool ended = retire(timeoutMs);
    takeStatus(MqttStatus{});
    return ended;
}

bool MqttPublisher::retire(int timeoutMs) {
    announced_.clear();
    if (!connection_)
        return true;
    QThread *thread = std::exchange(thread_, nullptr);
    MqttConnection *connection = std::exchange(connection_, nullptr);
    disconnect(connection, nullptr, this, nullptr);
    QMetaObject::invokeMethod(
        connection, [connection] { connection->finish(); }, Qt::QueuedConnection);
    // A thread held up in a name lookup is left to end by itself (it
    // deletes itself then); the program does not wait longer for it.
    return timeoutMs > 0 && thread->wait(QDeadlineTimer(timeoutMs));
}

void MqttPublisher::post(std::function<void(MqttConnection *)> call) {
    if (!connection_)
        return;
    MqttConnection *c = connection_;
    QMetaObject::invokeMethod(
        c, [c, call = std::move(call)] { call(c); }, Qt::QueuedConnection);
}

void MqttPublisher::setModules(const QList<MqttModule> &modules) {
    if (modules == modules_)
        return;
    modules_ = modules;
    announce();
}

void MqttPublisher::announce() {
    if (!settings_ || !connection_)
        return;
    const QString &discovery = settings_->discoveryPrefix;
    const QList<MqttMessage> configs =
        discovery.isEmpty() ? QList<MqttMessage>{}
                            : mqttformat::discoveryConfigs(discovery, settings_->prefix, modules_);
    QByteArrayList topics;
    for (const MqttMessage &m : configs) topics << m.topic;
    QList<MqttMessage> withdrawn;
    for (const QByteArray &topic : std::as_const(announced_)) {
        if (!topics.contains(topic))
            withdrawn.append({topic, QByteArray(), true, 1});
    }
    announced_ = topics;
    const QByteArray birth =
        discovery.isEmpty() ? QByteArray() : mqttformat::discoveryBirthTopic(discovery);
    post([configs, birth, withdrawn](MqttConnection *c) {
        c->enqueue(withdrawn);
        c->setDiscovery(configs, birth);
    });
}

void MqttPublisher::publishReading(int address, double temperature, double humidity,
                                   const QString &time) {
    if (!settings_ || !connection_)
        return;
    QList<MqttMessage> messages = mqttformat::readingMessages(
        settings_->prefix, address, temperature, humidity, time, unixMsNow());
    post([messages = std::move(messages)](MqttConnection *c) { c->enqueue(messages); });
}

qint64 MqttPublisher::unixMsNow() {
    const qint64 steady = clock_.steadyMs();
    if (!wallMinusSteadyMs_ || steady - wallReadAtMs_ >= 1000) {
        wallMinusSteadyMs_ = clock_.now().toMSecsSinceEpoch() - steady;
        wallReadAtMs_ = steady;
    }
    return steady + *wallMinusSteadyMs_;
}

void MqttPublisher::publishAlarm(int address, const QString &kind, const QString &state,
                                 std::optional<double> value, const QString &time) {
    if (!settings_ || !connection_)
        return;
    const MqttMessage message =
        mqttformat::alarmMessage(settings_->prefix, address, kind, state, value, time);
    post([message](MqttConnection *c) { c->enqueue({message}); });
}

void MqttPublisher::takeStatus(const MqttStatus &status) {
    status_ = status;
    Q_EMIT statusChanged(status_);
    const QString text = isHeldElsewhere() ? heldReason_ : mqttstatus::text(status_);
    if (text != text_) {
        text_ = text;
        Q_EMIT stateChanged(text_);
    }
}

void MqttPublisher::testConnection(const MqttSettings &settings, QObject *context,
                                   std::function<void(bool, const QString &)> done, int timeoutMs) {
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("mqtt-test"));
    auto *probe = new MqttProbe(settings, timeoutMs);
    connect(probe, &MqttProbe::finished, context,
            [done = std::move(done)](bool accepted, const QString &text) { done(accepted, text); });
    tieToThread(probe, thread, &MqttProbe::finished);
    thread->start();
    QMetaObject::invokeMethod(
        probe, [probe] { probe->run(); }, Qt::QueuedConnection);
}
