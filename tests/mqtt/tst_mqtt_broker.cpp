// The publisher against a real mosquitto on a free loopback port: topics and
// payloads on the wire, retained values, the status and the last will,
// reconnection after a broker restart without a repeat or a swap, a refused
// login, TLS with the system's certificate store, and a full queue.
#include "mqtt/MqttPublisher.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/TcpRelay.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

namespace {
constexpr int kWait = 10000;

#define SKIP_WITHOUT_MOSQUITTO()                                             \
    if (MqttBroker::program().isEmpty())                                     \
    QSKIP(                                                                   \
        "the mosquitto broker is not installed (Debian package mosquitto); " \
        "scripts/install-deps.sh installs it")

MqttSettings local(quint16 port, const QString &prefix = QStringLiteral("qx7")) {
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.prefix = prefix;
    return s;
}

// Quick retries, so that a test never waits long for a reconnection.
MqttConnection::Timing quick() {
    MqttConnection::Timing t;
    t.firstRetryMs = 100;
    t.maxRetryMs = 400;
    t.connectTimeoutMs = 5000;
    return t;
}

bool is(const MqttPublisher &p, MqttStatus::State state) {
    return p.status().state == state;
}

QString timeOf(int i) {
    return QStringLiteral("2024-03-05 10:%1:%2")
        .arg(i / 60, 2, 10, QLatin1Char('0'))
        .arg(i % 60, 2, 10, QLatin1Char('0'));
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
    if (!QTest::qWaitFor([&] { return !said.isEmpty(); }, kWait))
        return QStringLiteral("(no answer)");
    return said;
}
}  // namespace

class TestMqttBroker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void publishesReadingsAlarmsAndStatus();
    void lastWillWhenTheProgramDies();
    void reconnectsAfterABrokerRestartInOrder();
    void aBrokenConnectionRepeatsAtMostTheMessageInFlight();
    void refusedLogin();
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
    pub.setTiming(quick());
    pub.apply(local(broker.port()));
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Connected), kWait);
    QCOMPARE(pub.statusText(), QStringLiteral("MQTT：已连接 127.0.0.1:%1").arg(broker.port()));

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
    QCOMPARE(live.payloads("qx7/1/last").constLast(), live.payloads("qx7/1/state").constLast());
    const QJsonObject alarm =
        QJsonDocument::fromJson(live.payloads("qx7/2/alarm").first()).object();
    QCOMPARE(alarm.value("kind").toString(), QStringLiteral("no_reply"));
    QCOMPARE(alarm.value("state").toString(), QStringLiteral("on"));
    QVERIFY(alarm.value("value").isNull());
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                .match(alarm.value("time").toString())
                .hasMatch());
    for (const MqttSubscriber::Message &m : live.messages()) QVERIFY(!m.retained);

    // A subscriber that comes later gets what is retained: the latest reading
    // of each module and the program's status, nothing of the history.
    MqttSubscriber late(broker.port(), "qx7/#");
    QVERIFY(late.start());
    QTRY_COMPARE_WITH_TIMEOUT(late.count(), 3, kWait);
    QCOMPARE(late.payloads("qx7/1/last"), live.payloads("qx7/1/state").mid(1));
    QCOMPARE(late.payloads("qx7/2/last"), live.payloads("qx7/2/state"));
    QCOMPARE(late.payloads("qx7/status"), QByteArrayList{"online"});
    for (const MqttSubscriber::Message &m : late.messages()) QVERIFY(m.retained);

    // A clean stop says "offline" itself; the broker keeps that.
    pub.stop();
    QVERIFY(is(pub, MqttStatus::State::Off));
    QVERIFY(pub.statusText().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(live.payloads("qx7/status"), (QByteArrayList{"online", "offline"}),
                              kWait);
    pub.publishReading(1, 1, 1, "2024-03-05 10:00:03");  // off: nothing goes out, nothing runs
}

void TestMqttBroker::lastWillWhenTheProgramDies() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber live(broker.port(), "child/#");
    QVERIFY(live.start());

    QProcess child;
    child.start(QCoreApplication::applicationDirPath() + "/mqtt_child",
                {QString::number(broker.port()), "child"});
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(live.payloads("child/1/state").size(), 1, kWait);
    QCOMPARE(live.payloads("child/status"), QByteArrayList{"online"});

    // Killed without a word: the broker speaks the program's last will.
    child.kill();
    QVERIFY(child.waitForFinished());
    QTRY_COMPARE_WITH_TIMEOUT(live.payloads("child/status"), (QByteArrayList{"online", "offline"}),
                              kWait);
    MqttSubscriber late(broker.port(), "child/status");
    QVERIFY(late.start());
    QTRY_COMPARE_WITH_TIMEOUT(late.payloads("child/status"), QByteArrayList{"offline"}, kWait);
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
    pub.setTiming(quick());
    pub.apply(local(broker.port()));
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Connected), kWait);
    auto publish = [&](int from, int to) {
        for (int i = from; i <= to; ++i) pub.publishReading(1, i, 50, timeOf(i));
    };

    publish(1, 20);
    // Everything acknowledged: nothing is on its way when the broker goes.
    QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qx7/1/state").size() == 20 && pub.status().queued == 0,
                             kWait);
    QVERIFY(broker.stop());
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Waiting), kWait);
    QVERIFY2(pub.statusText().contains("连接"), qPrintable(pub.statusText()));

    publish(21, 60);  // while the broker is down: 40 readings and the latest value
    QTRY_COMPARE_WITH_TIMEOUT(pub.status().queued, 41, kWait);
    QVERIFY2(pub.statusText().endsWith("，待发送 41 条"), qPrintable(pub.statusText()));

    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Connected), kWait);
    publish(61, 80);
    QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qx7/1/state").size() >= 80, 3 * kWait);
    QCOMPARE(temperatures(sub.payloads("qx7/1/state")), range(1, 80));
}

void TestMqttBroker::aBrokenConnectionRepeatsAtMostTheMessageInFlight() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub(broker.port(), "qx7/1/state");
    QVERIFY(sub.start());
    // The publisher reaches the broker through a line that the test breaks
    // while readings stream, with one of them on its way.
    TcpRelay relay(broker.port());
    QVERIFY(relay.start());
    MqttPublisher pub;
    pub.setTiming(quick());
    pub.apply(local(relay.port()));
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Connected), kWait);

    constexpr int kReadings = 2000;
    for (int i = 1; i <= kReadings; ++i) pub.publishReading(1, i, 50, timeOf(i));
    const QList<int> cutAt{300, 900, 1500};
    int cuts = 0;
    int broken = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            // The subscriber lags behind the broker: wait for the reconnection
            // before the next break.
            if (cuts < cutAt.size() && relay.connections() == cuts + 1 &&
                sub.count() >= cutAt[cuts]) {
                broken += relay.cut();
                ++cuts;
            }
            const QByteArrayList got = sub.payloads("qx7/1/state");
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
    int repeats = 0;
    for (int i = 0; i < got.size(); ++i) {
        if (i > 0 && got[i] == got[i - 1])
            ++repeats;
        else
            once << got[i];
    }
    QCOMPARE(once, range(1, kReadings));
    QVERIFY2(repeats <= cuts, qPrintable(QString::number(repeats)));
}

void TestMqttBroker::refusedLogin() {
    SKIP_WITHOUT_MOSQUITTO();
    const QString password = QStringLiteral("s3cret'pw");
    MqttBroker::Options options;
    options.users = {{"alice", password}};
    MqttBroker broker(options);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));

    MqttSettings wrong = local(broker.port());
    wrong.username = "alice";
    wrong.password = "wr0ng-pw";
    QStringList lines;  // outlives the publisher, which says its last line when it goes
    MqttPublisher pub;
    pub.setTiming(quick());
    connect(&pub, &MqttPublisher::stateChanged, this, [&](const QString &t) { lines << t; });
    pub.apply(wrong);
    // The broker's reason in the status line; the program tries again.
    const QString refused =
        QStringLiteral("代理拒绝连接：未获授权（用户名或密码错误，或不允许匿名登录）");
    QTRY_COMPARE_WITH_TIMEOUT(pub.status().reason, refused, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(broker.log().count("not authorised") >= 3, kWait);

    QString said = probe(wrong);
    QCOMPARE(said, "-无法连接MQTT代理 127.0.0.1:" + QString::number(broker.port()) + "：" +
                       refused + "。");
    MqttSettings anonymous = local(broker.port());
    QVERIFY(probe(anonymous).contains(refused));
    MqttSettings right = wrong;
    right.password = password;
    said = probe(right);
    QCOMPARE(said,
             "+连接成功：MQTT代理 127.0.0.1:" + QString::number(broker.port()) + " 接受了连接。");

    pub.apply(right);
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Connected), kWait);
    for (const QString &line : lines + QStringList{said}) {
        QVERIFY(!line.contains(password));
        QVERIFY(!line.contains(wrong.password));
    }
}

void TestMqttBroker::tlsTrustsTheSystemsCertificates() {
    SKIP_WITHOUT_MOSQUITTO();
    if (MqttBroker::openssl().isEmpty())
        QSKIP("openssl is not installed; it makes the test's certificates");
    MqttBroker::Options options;
    options.tls = true;
    MqttBroker broker(options);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSettings s = local(broker.port());
    s.tls = true;

    // The test's CA is none of the system's: the certificate is not trusted.
    const QByteArray earlier = qgetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_FILE");
    QVERIFY2(probe(s).contains("TLS握手失败"), qPrintable(probe(s)));
    // A plain connection to a TLS port gets nowhere either.
    MqttSettings plain = local(broker.port());
    QVERIFY(probe(plain).startsWith('-'));

    // OpenSSL's system store, pointed at the test's CA.
    qputenv("SSL_CERT_FILE", broker.caFile().toLocal8Bit());
    const QString said = probe(s);
    MqttPublisher pub;
    pub.setTiming(quick());
    pub.apply(s);
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Connected), kWait);
    pub.publishReading(1, 20, 50, timeOf(1));
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
    MqttConnection::Timing timing = quick();
    timing.firstRetryMs = timing.maxRetryMs = 600000;  // no attempt unless asked
    pub.setTiming(timing);
    pub.setQueueLimit(50);
    connect(&pub, &MqttPublisher::stateChanged, this, [&](const QString &t) { lines << t; });
    pub.apply(local(broker.port()));
    QTRY_VERIFY_WITH_TIMEOUT(is(pub, MqttStatus::State::Waiting), kWait);
    QCOMPARE(pub.status().reason, QStringLiteral("连接被拒绝：代理未运行或端口不对"));

    for (int i = 1; i <= 80; ++i) pub.publishReading(1, i, 50, timeOf(i));
    QTRY_COMPARE_WITH_TIMEOUT(pub.status().dropped, quint64(31), kWait);
    QCOMPARE(pub.status().queued, 50);
    const QString full =
        QStringLiteral(
            "MQTT：未连接 127.0.0.1:%1（连接被拒绝：代理未运行或端口不对），600秒后"
            "重试；队列已满（50 条），最早的消息被丢弃")
            .arg(broker.port());
    QCOMPARE(pub.statusText(), full);
    QCOMPARE(lines.count(full), 1);

    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub(broker.port(), "qx7/#");
    QVERIFY(sub.start());
    pub.apply(local(broker.port()));  // the same settings: try again now
    QTRY_COMPARE_WITH_TIMEOUT(sub.payloads("qx7/1/state").size(), 49, kWait);
    // "online", then the latest value, then the newest 49 readings in order.
    const QList<MqttSubscriber::Message> got = sub.messages();
    QCOMPARE(got.size(), 51);
    QCOMPARE(got[0].topic, QByteArray("qx7/status"));
    QCOMPARE(got[1].topic, QByteArray("qx7/1/last"));
    QCOMPARE(temperatures({got[1].payload}), QList<int>{80});
    QCOMPARE(temperatures(sub.payloads("qx7/1/state")), range(32, 80));
    QTRY_COMPARE_WITH_TIMEOUT(
        pub.statusText(),
        QStringLiteral("MQTT：已连接 127.0.0.1:%1（队列溢出共丢弃 31 条）").arg(broker.port()),
        kWait);
    QCOMPARE(lines.count(full), 1);
}

QTEST_GUILESS_MAIN(TestMqttBroker)
#include "tst_mqtt_broker.moc"
