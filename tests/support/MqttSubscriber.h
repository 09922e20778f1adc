#pragma once

#include "support/ChildProcess.h"

#include <QByteArray>
#include <QList>

// A subscriber on a broker at 127.0.0.1 that records every message it gets,
// for tests: mosquitto_sub as a child process, which reconnects by itself and
// subscribes again after every connection.
//
//     MqttSubscriber sub(broker.port(), "qx7/#");
//     QVERIFY(sub.start());
//     QTRY_COMPARE_WITH_TIMEOUT(sub.payloads("qx7/1/state").size(), 3, 5000);
class MqttSubscriber : public ChildProcess {
public:
    struct Message {
        QByteArray topic;
        QByteArray payload;
        qint64 receivedMs = 0;  // when it came, on the clock of now()
    };

    MqttSubscriber(quint16 port, const QByteArray &filter);

    // Starts and waits (bounded) until the broker has the subscription.
    bool start(int timeoutMs = 5000);

    // What came so far, in order. The event loop must run for more to come.
    QList<Message> messages();
    // Milliseconds since the epoch, to compare with receivedMs.
    static qint64 now();
    // The payloads received on one topic, in order.
    QByteArrayList payloads(const QByteArray &topic);
    int count() { return int(messages().size()); }
    // Forgets what came so far.
    void clear() {
        messages();
        messages_.clear();
    }

private:
    QStringList args_;
    QList<Message> messages_;
    bool subscribed_ = false;
};
