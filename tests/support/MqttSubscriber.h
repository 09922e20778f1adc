#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>

struct mosquitto;

// A subscriber on a broker at 127.0.0.1 that records every message it gets,
// for tests. It runs libmosquitto's own network thread, reconnects by
// itself, and subscribes again after every connection.
//
//     MqttSubscriber sub(broker.port(), "qx7/#");
//     QVERIFY(sub.start());
//     QTRY_COMPARE_WITH_TIMEOUT(sub.payloads("qx7/1/state").size(), 3, 5000);
class MqttSubscriber {
public:
    struct Message {
        QByteArray topic;
        QByteArray payload;
        qint64 receivedMs = 0;  // when it came, on the clock of now()
    };

    // With a `persistentId` the broker keeps the session (and what arrives
    // for it) while the subscriber is away; QoS 0 then, so that a restart of
    // the broker repeats nothing to it.
    MqttSubscriber(quint16 port, const QByteArray &filter,
                   const QByteArray &persistentId = QByteArray());
    ~MqttSubscriber();

    MqttSubscriber(const MqttSubscriber &) = delete;
    MqttSubscriber &operator=(const MqttSubscriber &) = delete;

    // Connects, subscribes and waits (bounded) for the broker's confirmation.
    bool start(int timeoutMs = 5000);

    QList<Message> messages() const;
    // Milliseconds on a monotonic clock, to compare with receivedMs.
    static qint64 now();
    // The payloads received on one topic, in order.
    QByteArrayList payloads(const QByteArray &topic) const;
    int count() const;
    void clear();

private:
    static void onConnect(mosquitto *client, void *self, int code);
    static void onSubscribe(mosquitto *client, void *self, int mid, int count, const int *qos);
    static void onMessage(mosquitto *client, void *self, const struct mosquitto_message *message);

    quint16 port_;
    QByteArray filter_;
    QByteArray id_;
    bool persistent_;
    mosquitto *client_ = nullptr;
    mutable QMutex mutex_;
    QList<Message> messages_;
    bool subscribed_ = false;
};
