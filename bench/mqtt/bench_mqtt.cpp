// MQTT publishing against a mosquitto on a free loopback port:
//
// - what one publishReading() costs the window thread, with the broker up
//   and with the broker down (the call only queues; target: well under 1 ms);
// - how long a reading takes from publishReading() to a subscriber (target:
//   well under a second);
// - how fast a full queue (10,000 messages: 9,999 readings and the latest
//   value) drains after the broker comes back, one message in flight at a time;
// - how long a stop takes: "offline" acknowledged and the connection's thread
//   ended (a logger stopped by its service manager has 5 s for everything).
//
// Prints its figures; needs mosquitto installed.
#include "mqtt/MqttPublisher.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {
MqttSettings local(quint16 port) {
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    return s;
}

QString timeOf(int i) {
    return QStringLiteral("2024-03-05 %1:%2:%3")
        .arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
        .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(i % 60, 2, 10, QLatin1Char('0'));
}

// Microseconds per publishReading() call over `count` calls.
double callCost(MqttPublisher &pub, int count, int first) {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < count; ++i)
        pub.publishReading(1 + i % 3, 20 + i % 10, 50, timeOf(first + i));
    return t.nsecsElapsed() / 1e3 / count;
}

bool wait(const std::function<bool()> &done, int ms) {
    return QTest::qWaitFor(done, ms);
}
}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (MqttBroker::program().isEmpty()) {
        std::fputs("mosquitto is not installed\n", stderr);
        return 1;
    }
    MqttBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(broker.errorString()));
        return 1;
    }
    MqttSubscriber sub(broker.port(), "qx7/+/state");
    if (!sub.start()) {
        std::fputs("the subscriber could not start\n", stderr);
        return 1;
    }
    MqttConnection::Timing timing;
    timing.firstRetryMs = timing.maxRetryMs = 600000;  // reconnect only when told
    MqttPublisher pub;
    pub.setTiming(timing);
    pub.apply(local(broker.port()));
    if (!wait([&] { return pub.status().state == MqttStatus::State::Connected; }, 10000)) {
        std::fputs("the publisher did not connect\n", stderr);
        return 1;
    }

    // Latency, one reading at a time, as the acquisition publishes them.
    constexpr int kSamples = 200;
    QList<double> latency;
    for (int i = 0; i < kSamples; ++i) {
        const int before = sub.count();
        const qint64 sent = MqttSubscriber::now();
        pub.publishReading(1, 20, 50, timeOf(i));
        if (!wait([&] { return sub.count() > before; }, 5000)) {
            std::fputs("a reading did not arrive\n", stderr);
            return 1;
        }
        latency << double(sub.messages().constLast().receivedMs - sent);
    }
    std::sort(latency.begin(), latency.end());
    std::printf("publishReading to subscriber: median %.0f ms, slowest %.0f ms (%d readings)\n",
                latency[kSamples / 2], latency.last(), kSamples);
    std::printf("publishReading in the window thread, broker up: %.1f us a call\n",
                callCost(pub, 1000, 1000));
    wait([&] { return pub.status().queued == 0 && sub.count() >= kSamples + 1000; }, 20000);

    // The broker goes; the queue fills to its bound and the oldest give way.
    broker.stop();
    if (!wait([&] { return pub.status().state == MqttStatus::State::Waiting; }, 10000)) {
        std::fputs("the publisher did not notice the broker going\n", stderr);
        return 1;
    }
    sub.clear();
    constexpr int kQueued = 12000;
    std::printf("publishReading in the window thread, broker down: %.1f us a call\n",
                callCost(pub, kQueued, 10000));
    const quint64 overflow = kQueued + 3 - MqttQueue::kDefaultLimit;
    wait([&] { return pub.status().dropped >= overflow; }, 10000);
    std::printf("queued while down: %d messages, %llu dropped, status line: %s\n",
                pub.status().queued, static_cast<unsigned long long>(pub.status().dropped),
                qPrintable(pub.statusText()));

    // Back: everything that waits goes out in order.
    if (!broker.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(broker.errorString()));
        return 1;
    }
    MqttSubscriber after(broker.port(), "qx7/+/state");
    if (!after.start()) {
        std::fputs("the subscriber could not start again\n", stderr);
        return 1;
    }
    QElapsedTimer drain;
    drain.start();
    pub.apply(local(broker.port()));                    // the same settings: try again now
    const int expected = MqttQueue::kDefaultLimit - 3;  // three latest values go first
    if (!wait([&] { return after.count() >= expected && pub.status().queued == 0; }, 120000)) {
        std::fprintf(stderr, "only %d of %d arrived\n", after.count(), expected);
        return 1;
    }
    const double seconds = drain.nsecsElapsed() / 1e9;
    std::printf("drain after reconnection: %d readings in %.2f s (%.0f messages/s)\n",
                after.count(), seconds, MqttQueue::kDefaultLimit / seconds);

    QElapsedTimer stopping;
    stopping.start();
    const bool ended = pub.stop();
    std::printf("stop: \"offline\" said and the thread ended in %.1f ms%s\n",
                stopping.nsecsElapsed() / 1e6, ended ? "" : " (not within the bound)");
    return 0;
}
