#include "support/MqttSubscriber.h"

#include <QMutexLocker>
#include <QRandomGenerator>
#include <QTest>

#include <mosquitto.h>

#include <chrono>

MqttSubscriber::MqttSubscriber(quint16 port, const QByteArray &filter,
                               const QByteArray &persistentId)
    : port_(port),
      filter_(filter),
      id_(persistentId.isEmpty()
              ? "qx7-test-sub-" + QByteArray::number(QRandomGenerator::global()->generate(), 16)
              : persistentId),
      persistent_(!persistentId.isEmpty()) {
    mosquitto_lib_init();
}

MqttSubscriber::~MqttSubscriber() {
    if (client_) {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
}

bool MqttSubscriber::start(int timeoutMs) {
    client_ = mosquitto_new(id_.constData(), !persistent_, this);
    if (!client_)
        return false;
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, &MqttSubscriber::onConnect);
    mosquitto_subscribe_callback_set(client_, &MqttSubscriber::onSubscribe);
    mosquitto_message_callback_set(client_, &MqttSubscriber::onMessage);
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    if (mosquitto_connect(client_, "127.0.0.1", port_, 30) != MOSQ_ERR_SUCCESS)
        return false;
    if (mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS)
        return false;
    return QTest::qWaitFor(
        [this] {
            QMutexLocker lock(&mutex_);
            return subscribed_;
        },
        timeoutMs);
}

qint64 MqttSubscriber::now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QList<MqttSubscriber::Message> MqttSubscriber::messages() const {
    QMutexLocker lock(&mutex_);
    return messages_;
}

QByteArrayList MqttSubscriber::payloads(const QByteArray &topic) const {
    QMutexLocker lock(&mutex_);
    QByteArrayList out;
    for (const Message &m : messages_) {
        if (m.topic == topic)
            out << m.payload;
    }
    return out;
}

int MqttSubscriber::count() const {
    QMutexLocker lock(&mutex_);
    return int(messages_.size());
}

void MqttSubscriber::clear() {
    QMutexLocker lock(&mutex_);
    messages_.clear();
}

void MqttSubscriber::onConnect(mosquitto *client, void *self, int code) {
    auto *s = static_cast<MqttSubscriber *>(self);
    if (code == 0)
        mosquitto_subscribe(client, nullptr, s->filter_.constData(), s->persistent_ ? 0 : 1);
}

void MqttSubscriber::onSubscribe(mosquitto *, void *self, int, int, const int *) {
    auto *s = static_cast<MqttSubscriber *>(self);
    QMutexLocker lock(&s->mutex_);
    s->subscribed_ = true;
}

void MqttSubscriber::onMessage(mosquitto *, void *self, const mosquitto_message *message) {
    auto *s = static_cast<MqttSubscriber *>(self);
    QMutexLocker lock(&s->mutex_);
    s->messages_.append(
        {QByteArray(message->topic),
         QByteArray(static_cast<const char *>(message->payload), message->payloadlen), now()});
}
