#include "support/MqttSubscriber.h"

#include <QDateTime>
#include <QTest>

// The broker's version, retained under $SYS (as mosquitto keeps it unless
// sys_interval is 0), is subscribed to in the same request as the filter: the
// broker sends it once both subscriptions hold.
static const char kReady[] = "$SYS/broker/version";

MqttSubscriber::MqttSubscriber(quint16 port, const QByteArray &filter)
    : ChildProcess("mosquitto_sub", false),
      // One line a message: when it came (seconds since the epoch), the payload
      // in hex and the topic.
      args_{"-h", "127.0.0.1",
            "-p", QString::number(port),
            "-t", QString::fromUtf8(filter),
            "-t", kReady,
            "-F", "%U %x %t",
            "-q", "1"} {}

bool MqttSubscriber::start(int timeoutMs) {
    proc_.start(QStringLiteral("mosquitto_sub"), args_);
    // Done when subscribed, or when mosquitto_sub gave up (no broker, say).
    const auto done = [this] {
        messages();  // reads what came
        return subscribed_ || !isRunning();
    };
    return QTest::qWaitFor(done, timeoutMs) && subscribed_;
}

qint64 MqttSubscriber::now() {
    return QDateTime::currentMSecsSinceEpoch();
}

QList<MqttSubscriber::Message> MqttSubscriber::messages() {
    while (proc_.canReadLine()) {
        const QByteArray line = proc_.readLine().chopped(1);
        const qsizetype time = line.indexOf(' '), payload = line.indexOf(' ', time + 1);
        const QByteArray topic = line.mid(payload + 1);
        if (topic == kReady)
            subscribed_ = true;
        else
            messages_.append({topic, QByteArray::fromHex(line.mid(time + 1, payload - time - 1)),
                              qint64(line.left(time).toDouble() * 1000)});
    }
    return messages_;
}

QByteArrayList MqttSubscriber::payloads(const QByteArray &topic) {
    QByteArrayList out;
    for (const Message &m : messages()) {
        if (m.topic == topic)
            out << m.payload;
    }
    return out;
}
