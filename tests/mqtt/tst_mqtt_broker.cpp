// The publisher against a real mosquitto on a free loopback port: topics and
// payloads on the wire, retained values and the status, the last will when
// the line breaks, no repeat or swap over a broken line or a broker restart,
// TLS with the system's certificate store, and a full queue. A refused login
// is tested through the settings window, in tst_mqttsetting.
#include "mqtt/MqttPublisher.h"
#include "store/ValueText.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/TcpRelay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
constexpr int kWait = 10000;
using State = MqttStatus::State;

// Quick retries, so that a test never waits long for a reconnection.
void retryQuickly(MqttPublisher &pub, int retryMs = 100) {
    MqttConnection::Timing t;
    t.firstRetryMs = retryMs;
    t.maxRetryMs = std::max(retryMs, 400);
    t.connectTimeoutMs = 5000;
    pub.setTiming(t);
}

bool is(const MqttPublisher &p, State state) {
    return p.status().state == state;
}

// Readings of module 1 whose temperatures count from `from` to `to`.
void publish(MqttPublisher &pub, int from, int to) {
    for (int i = from; i <= to; ++i)
        pub.publishReading(1, i, 50, QStringLiteral("2024-03-05 10:00:00"));
}

// The temperatures of reading payloads, in the order they came.
QList<int> temperatures(const QByteArrayList &payloads) {
    QList<int> out;
    for (const QByteArray &p : payloads)
        out << QJsonDocument::fromJson(p).object().value("temp").toInt();
    return out;
}

QList<int> range(int from, int to) {
    QList<int> out;
    for (int i = from; i <= to; ++i) out << i;
    return out;
}

// Runs one test of the settings window's kind and returns its sentence,
// "+" in front when the broker accepted.
QString probe(const MqttSettings &settings) {
    QObject context;
    QString said;
    MqttPublisher::testConnection(settings, &context, [&](bool accepted, const QString &text) {
        said = (accepted ? QStringLiteral("+") : QStringLiteral("-")) + text;
    });
    return QTest::qWaitFor([&] { return !said.isEmpty(); }, kWait) ? said : "(no answer)";
}
}  // namespace

class TestMqttBroker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void publishesReadingsAlarmsAndStatus();
    void brokenLineRepeatsAtMostTheMessageInFlightAndLeavesTheWill();
    void reconnectsAfterABrokerRestartInOrder();
    void tlsTrustsTheSystemsCertificates();
    void fullQueueDropsTheOldestAndSaysSoOnce();
};

void TestMqttBroker::publishesReadingsAlarmsAndStatus() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber live(broker.port(), "qx7/#");
    QVERIFY(live.start());
    MqttPublisher pub;
    pub.apply(broker.settings());
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, State::Connected), kWait);
    QCOMPARE(pub.statusText(), "MQTT：已连接 " + broker.settings().server());

    pub.publishReading(1, 23.5, 45.2, "2024-03-05 10:00:00");
    pub.publishReading(2, -10, 0, "2024-03-05 10:00:01");
    pub.publishReading(1, 23.6, 45, "2024-03-05 10:00:02");
    pub.publishAlarm(2, "no_reply", "on", std::nullopt);
    QTRY_COMPARE_WITH_TIMEOUT(live.payloads("qx7/2/alarm").size(), 1, kWait);
    QCOMPARE(live.payloads("qx7/status"), QByteArrayList{"online"});
    QCOMPARE(live.payloads("qx7/1/state"),
             (QByteArrayList{R"({"temp": 23.5, "hum": 45.2, "time": "2024-03-05 10:00:00"})",
                             R"({"temp": 23.6, "hum": 45, "time": "2024-03-05 10:00:02"})"}));
    QCOMPARE(live.payloads("qx7/2/state"),
             QByteArrayList{R"({"temp": -10, "hum": 0, "time": "2024-03-05 10:00:01"})"});
    const QJsonObject alarm =
        QJsonDocument::fromJson(live.payloads("qx7/2/alarm").first()).object();
    QCOMPARE(alarm.value("kind").toString() + ' ' + alarm.value("state").toString(), "no_reply on");
    QVERIFY(alarm.value("value").isNull() && isRecordTime(alarm.value("time").toString()));

    // A subscriber that comes later gets what is retained: the latest reading
    // of each module and the program's status, nothing of the history.
    MqttSubscriber late(broker.port(), "qx7/#");
    QVERIFY(late.start());
    QTRY_COMPARE_WITH_TIMEOUT(late.count(), 3, kWait);
    QCOMPARE(late.payloads("qx7/1/last"), live.payloads("qx7/1/state").mid(1));
    QCOMPARE(late.payloads("qx7/2/last"), live.payloads("qx7/2/state"));
    QCOMPARE(late.payloads("qx7/status"), QByteArrayList{"online"});

    // A clean stop says "offline" itself; the broker keeps that.
    pub.stop();
    QVERIFY(pub.statusText().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(live.payloads("qx7/status"), (QByteArrayList{"online", "offline"}),
                              kWait);
    pub.publishReading(1, 1, 1, "2024-03-05 10:00:03");  // off: nothing goes out, nothing runs
}

void TestMqttBroker::brokenLineRepeatsAtMostTheMessageInFlightAndLeavesTheWill() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub(broker.port(), "qx7/#");
    QVERIFY(sub.start());
    // The publisher reaches the broker through a line that the test breaks,
    // without a goodbye on either side, while readings stream.
    MqttPublisher pub;
    TcpRelay relay(broker.port());
    QVERIFY(relay.start());
    MqttSettings throughRelay = broker.settings();
    throughRelay.port = relay.port();
    retryQuickly(pub);
    pub.apply(throughRelay);
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, State::Connected), kWait);

    constexpr int kReadings = 2000;
    publish(pub, 1, kReadings);
    const QList<int> cutAt{300, 900, 1500};
    int cuts = 0;
    int broken = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QByteArrayList got = sub.payloads("qx7/1/state");
            // The subscriber lags behind the broker: wait for the reconnection
            // before the next break.
            if (cuts < cutAt.size() && relay.connections() == cuts + 1 &&
                got.size() >= cutAt[cuts]) {
                broken += relay.cut();
                ++cuts;
            }
            return cuts == cutAt.size() && !got.isEmpty() &&
                   temperatures({got.constLast()}) == QList<int>{kReadings};
        },
        6 * kWait));
    QCOMPARE(broken, cuts);  // each cut broke a live connection
    QCOMPARE(relay.connections(), 1 + cuts);

    // Every reading, in order; a repeat only right after its first copy
    // (the broker had it, its acknowledgement was lost), at most one a break.
    const QList<int> got = temperatures(sub.payloads("qx7/1/state"));
    QList<int> once;
    for (int i = 0; i < got.size(); ++i) {
        if (i == 0 || got[i] != got[i - 1])
            once << got[i];
    }
    QCOMPARE(once, range(1, kReadings));
    QVERIFY2(got.size() - once.size() <= cuts, qPrintable(QString::number(got.size())));
    // At each break the broker said the program's last will; the program
    // said "online" again when it was back.
    QCOMPARE(sub.payloads("qx7/status"), (QByteArrayList{"online", "offline", "online", "offline",
                                                         "online", "offline", "online"}));
}

void TestMqttBroker::reconnectsAfterABrokerRestartInOrder() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker::Options options;
    options.persistence = true;
    MqttBroker broker(options);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    // A persistent session: the broker keeps what comes for it while it is
    // away, so the subscriber sees everything that reached the broker, once.
    MqttSubscriber sub(broker.port(), "qx7/+/state", "qx7-test-persistent");
    QVERIFY(sub.start());
    MqttPublisher pub;
    retryQuickly(pub);
    pub.apply(broker.settings());
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, State::Connected), kWait);

    publish(pub, 1, 20);
    // Everything acknowledged: nothing is on its way when the broker goes.
    QTRY_VERIFY_WITH_TIMEOUT(sub.count() == 20 && pub.status().queued == 0, kWait);
    QVERIFY(broker.stop());
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, State::Waiting), kWait);
    publish(pub, 21, 60);  // while the broker is down: 40 readings and the latest value
    QTRY_COMPARE_WITH_TIMEOUT(pub.status().queued, 41, kWait);
    QVERIFY2(pub.statusText().endsWith("，待发送 41 条"), qPrintable(pub.statusText()));

    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, State::Connected), kWait);
    publish(pub, 61, 80);
    QTRY_VERIFY_WITH_TIMEOUT(sub.count() >= 80, 3 * kWait);
    QCOMPARE(temperatures(sub.payloads("qx7/1/state")), range(1, 80));
}

void TestMqttBroker::tlsTrustsTheSystemsCertificates() {
    SKIP_WITHOUT_MOSQUITTO();
    if (MqttBroker::openssl().isEmpty())
        QSKIP("openssl is not installed; it makes the test's certificate");
    MqttBroker::Options options;
    options.tls = true;
    MqttBroker broker(options);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSettings tls = broker.settings();
    tls.tls = true;

    // The test's certificate is none of the system's: not trusted. A plain
    // connection to a TLS port gets nowhere either.
    const QByteArray earlier = qgetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_FILE");
    QVERIFY(probe(tls).contains("TLS握手失败"));
    QVERIFY(probe(broker.settings()).startsWith('-'));

    // OpenSSL's system store, pointed at the test's certificate.
    qputenv("SSL_CERT_FILE", broker.caFile().toLocal8Bit());
    const QString said = probe(tls);
    MqttPublisher pub;
    pub.apply(tls);
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, State::Connected), kWait);
    publish(pub, 1, 1);
    QTRY_COMPARE_WITH_TIMEOUT(pub.status().queued, 0, kWait);
    pub.stop();
    if (earlier.isNull())
        qunsetenv("SSL_CERT_FILE");
    else
        qputenv("SSL_CERT_FILE", earlier);
    QVERIFY2(said.startsWith("+") && said.contains("通过TLS"), qPrintable(said));
}

void TestMqttBroker::fullQueueDropsTheOldestAndSaysSoOnce() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker broker;  // not started: nothing listens on its port yet
    QStringList lines;
    MqttPublisher pub;
    retryQuickly(pub, 600000);  // no second attempt unless asked
    pub.setQueueLimit(50);
    connect(&pub, &MqttPublisher::stateChanged, this, [&](const QString &t) { lines << t; });
    pub.apply(broker.settings());
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, State::Waiting), kWait);

    publish(pub, 1, 80);
    QTRY_COMPARE_WITH_TIMEOUT(pub.status().dropped, quint64(31), kWait);
    const QString server = broker.settings().server();
    const QString full = "MQTT：未连接 " + server +
                         "（连接被拒绝：代理未运行或端口不对），600秒后重试；队列已满（50 "
                         "条），最早的消息被丢弃";
    QCOMPARE(pub.statusText(), full);

    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub(broker.port(), "qx7/#");
    QVERIFY(sub.start());
    pub.apply(broker.settings());  // the same settings: try again now
    QTRY_COMPARE_WITH_TIMEOUT(sub.count(), 51, kWait);
    // "online", then the latest value, then the newest 49 readings in order.
    const QList<MqttSubscriber::Message> got = sub.messages();
    QCOMPARE(got[0].topic + ' ' + got[1].topic, QByteArray("qx7/status qx7/1/last"));
    QCOMPARE(temperatures({got[1].payload}), QList<int>{80});
    QCOMPARE(temperatures(sub.payloads("qx7/1/state")), range(32, 80));
    QTRY_COMPARE_WITH_TIMEOUT(pub.statusText(),
                              "MQTT：已连接 " + server + "（队列溢出共丢弃 31 条）", kWait);
    QCOMPARE(lines.count(full), 1);
}

QTEST_GUILESS_MAIN(TestMqttBroker)
#include "tst_mqtt_broker.moc"
