#include "mqtt/MqttPublisher.h"

#include "mqtt/MqttFormat.h"
#include "records/Clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {
// The connection lives in `thread` and goes with it: when it has finished,
// the thread's event loop ends, and both are deleted.
void tieToThread(MqttConnection *connection, QThread *thread) {
    connection->moveToThread(thread);
    QObject::connect(connection, &MqttConnection::finished, thread, &QThread::quit,
                     Qt::DirectConnection);
    QObject::connect(thread, &QThread::finished, connection, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}
}  // namespace

MqttPublisher::MqttPublisher(QObject *parent) : QObject(parent) {
    // The program may end without closing its frame; "offline" still goes out.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { stop(); });
}

MqttPublisher::~MqttPublisher() {
    stop();
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
    if (!connection_) {
        thread_ = new QThread;
        thread_->setObjectName(QStringLiteral("mqtt"));
        connection_ = new MqttConnection(MqttConnection::Mode::Publish);
        connection_->setTiming(timing_);
        connection_->setQueueLimit(queueLimit_);
        connect(connection_, &MqttConnection::statusChanged, this, &MqttPublisher::takeStatus);
        tieToThread(connection_, thread_);
        thread_->start();
    }
    const MqttSettings s = *settings;
    post([s](MqttConnection *c) { c->start(s); });
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

void MqttPublisher::stop(int waitMs) {
    settings_.reset();
    if (!connection_)
        return;
    retire(waitMs);
    takeStatus(MqttStatus{});
}

void MqttPublisher::retire(int waitMs) {
    if (!connection_)
        return;
    QThread *thread = thread_;
    MqttConnection *connection = connection_;
    thread_ = nullptr;
    connection_ = nullptr;
    disconnect(connection, nullptr, this, nullptr);
    QMetaObject::invokeMethod(
        connection, [connection] { connection->finish(); }, Qt::QueuedConnection);
    // A thread held up in a name lookup is left to end by itself (it
    // deletes itself then); the program does not wait longer for it.
    if (waitMs > 0)
        thread->wait(QDeadlineTimer(waitMs));
}

void MqttPublisher::post(std::function<void(MqttConnection *)> call) {
    if (!connection_)
        return;
    MqttConnection *c = connection_;
    QMetaObject::invokeMethod(
        c, [c, call = std::move(call)] { call(c); }, Qt::QueuedConnection);
}

void MqttPublisher::publishReading(int address, double temperature, double humidity,
                                   const QString &time) {
    if (!settings_ || !connection_)
        return;
    QList<MqttMessage> messages =
        mqttformat::readingMessages(settings_->prefix, address, temperature, humidity, time);
    post([messages = std::move(messages)](MqttConnection *c) { c->enqueue(messages); });
}

void MqttPublisher::publishAlarm(int address, const QString &kind, const QString &state,
                                 std::optional<double> value) {
    if (!settings_ || !connection_)
        return;
    const MqttMessage message =
        mqttformat::alarmMessage(settings_->prefix, address, kind, state, value,
                                 mqttformat::recordTime(recordsclock::now()));
    post([message](MqttConnection *c) { c->enqueue({message}); });
}

void MqttPublisher::takeStatus(const MqttStatus &status) {
    status_ = status;
    Q_EMIT statusChanged(status_);
    const QString text = mqttstatus::text(status_);
    if (text != text_) {
        text_ = text;
        Q_EMIT stateChanged(text_);
    }
}

void MqttPublisher::testConnection(const MqttSettings &settings, QObject *context,
                                   std::function<void(bool, const QString &)> done, int timeoutMs) {
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("mqtt-test"));
    auto *probe = new MqttConnection(MqttConnection::Mode::Probe);
    MqttConnection::Timing timing;
    timing.connectTimeoutMs = timeoutMs;
    probe->setTiming(timing);
    connect(probe, &MqttConnection::probeResult, context,
            [done = std::move(done)](bool accepted, const QString &text) { done(accepted, text); });
    tieToThread(probe, thread);
    thread->start();
    QMetaObject::invokeMethod(
        probe, [probe, settings] { probe->start(settings); }, Qt::QueuedConnection);
}
