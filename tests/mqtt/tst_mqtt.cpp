// MQTT publishing: topics and payloads, record times, the settings' checks
// and row, the status line and the queue's order and resend rules; then the
// publisher against a real mosquitto on a free loopback port: the messages on
// the wire, retained values and the status, the last will when the line
// breaks, no repeat or swap over a broken line or a broker restart, TLS with
// the system's certificate store, and a full queue. A refused login is tested
// through the settings window, in tst_mqttsetting.
#include "mqtt/MqttFormat.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/MqttQueue.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/MqttStatus.h"
#include "store/ValueText.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/TcpRelay.h"
#include "support/TestDatabase.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimeZone>

#include <mosquitto.h>

namespace {
MqttMessage fifo(const char *payload) {
    return {"qx7/1/state", payload, false, 1};
}
MqttMessage latest(const char *topic, const char *payload) {
    return {topic, payload, true, 1};
}
// Sends and acknowledges whatever waits; the payloads in the order sent.
QByteArrayList drain(MqttQueue &q) {
    QByteArrayList sent;
    for (int mid = 100; q.canSend(); ++mid) {
        sent << q.takeNext()->payload;
        q.setInFlightId(mid);
        q.acknowledge(mid);
    }
    return sent;
}

constexpr int kWait = 10000;
using State = MqttStatus::State;

// Publishes with `settings`, with quick retries so that a test never waits
// long for a reconnection; true once the broker accepted.
bool connects(MqttPublisher &pub, const MqttSettings &settings) {
    pub.setTiming({.firstRetryMs = 100, .maxRetryMs = 400, .connectTimeoutMs = 5000});
    pub.apply(settings);
    return QTest::qWaitFor([&] { return pub.status().state == State::Connected; }, kWait);
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

class TestMqtt : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void payloads() {
        // Registers as the acquisition divides them: signed and unsigned tenths.
        const std::tuple<double, double, const char *> readings[] = {
            {23.5, 45.2, R"("temp": 23.5, "hum": 45.2)"},
            {26.0, 0.0, R"("temp": 26, "hum": 0)"},
            {qint16(-32768) / 10.0, quint16(65535) / 10.0, R"("temp": -3276.8, "hum": 6553.5)"},
            {qQNaN(), qInf(), R"("temp": null, "hum": null)"}};
        for (const auto &[temperature, humidity, numbers] : readings)
            QCOMPARE(mqttformat::readingPayload(temperature, humidity, "2024-03-05 10:00:00"),
                     "{" + QByteArray(numbers) + R"(, "time": "2024-03-05 10:00:00"})");

        QCOMPARE(mqttformat::alarmPayload("no_reply", "on", std::nullopt, "t"),
                 QByteArray(R"({"kind": "no_reply", "state": "on", "value": null, "time": "t"})"));
        // Quotes, backslashes, control characters and Chinese survive a JSON reader.
        const QString odd = QStringLiteral("温度\"过高\"\\\n\t\x01");
        const QByteArray json = mqttformat::alarmPayload(odd, "off", -0.5, "t");
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(json, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(o.value("kind").toString(), odd);
        QCOMPARE(o.value("value").toDouble(), -0.5);
    }

    void topicsFlagsAndTimes() {
        const QList<MqttMessage> reading =
            mqttformat::readingMessages("site/厅2", 17, 20, 50, "2024-03-05 10:00:00");
        const MqttMessage alarm = mqttformat::alarmMessage("site/厅2", 3, "k", "s", 1.0, "t");
        QCOMPARE(reading.size(), 2);
        // Topic, retained, QoS: the history is not retained, the latest value is.
        auto shown = [](const MqttMessage &m) {
            return QString::fromUtf8(m.topic) + ' ' + QString::number(m.retain) + ' ' +
                   QString::number(m.qos);
        };
        QCOMPARE(shown(reading[0]), QStringLiteral("site/厅2/17/state 0 1"));
        QCOMPARE(shown(reading[1]), QStringLiteral("site/厅2/17/last 1 1"));
        QCOMPARE(shown(alarm), QStringLiteral("site/厅2/3/alarm 0 1"));
        QCOMPARE(reading[0].payload, reading[1].payload);
        QCOMPARE(mqttformat::statusTopic("qx7"), QByteArray("qx7/status"));
        for (const QByteArray &topic : {reading[0].topic, alarm.topic})
            QCOMPARE(mosquitto_pub_topic_check(topic.constData()), int(MOSQ_ERR_SUCCESS));
        // Times as the database stamps records: UTC + 8 h, whatever zone the instant is in.
        const QDateTime lateUtc(QDate(2024, 3, 5), QTime(23, 30, 0), Qt::UTC);
        for (const QDateTime &t : {lateUtc, lateUtc.toTimeZone(QTimeZone(3600))})
            QCOMPARE(mqttformat::recordTime(t), QStringLiteral("2024-03-06 07:30:00"));
    }

    // Each refused setting with a piece of its message (none: accepted); never the password.
    void settingsChecks() {
        const QString h = "127.0.0.1";
        const std::tuple<QString, int, QString, QString, QString, const char *> cases[] = {
            {"broker.site-1.local", 8883, "qx7/hall 2", "u", "p", ""},
            {"::1", 65535, "qx7", "u", "", ""},
            {"  ", 1883, "qx7", "", "", "请填写MQTT代理的地址"},
            {"my host", 1883, "qx7", "", "", "代理地址“my host”无效"},
            {"mqtt://x", 1883, "qx7", "", "", "无效"},
            {h, 0, "qx7", "", "", "1到65535"},
            {h, 65536, "qx7", "", "", "1到65535"},
            {h, 1883, "", "", "", "请填写主题前缀"},
            {h, 1883, "qx7/+", "", "", "“+”或“#”"},
            {h, 1883, "qx7#", "", "", "“+”或“#”"},
            {h, 1883, "/qx7", "", "", "“/”开头或结尾"},
            {h, 1883, "a//b", "", "", "“//”"},
            {h, 1883, "$SYS", "", "", "“$”开头"},
            {h, 1883, "a\tb", "", "", "控制字符"},
            {h, 1883, QString(201, 'a'), "", "", "太长"},
            {h, 1883, "qx7", "", "secret", "必须同时填写用户名"}};
        for (const auto &[host, port, prefix, user, password, problem] : cases) {
            const QString said = mqttsettings::check({host, port, prefix, user, password, false});
            QVERIFY2(*problem ? said.contains(problem) : said.isEmpty(), qPrintable(host + said));
            QVERIFY(password.isEmpty() || !said.contains(password));
        }
    }

    void settingsRow() {
        LiteConnection conn;
        TestDatabase db(conn);
        const auto tables = [&] { return db.rows("select name, sql from sqlite_master"); };
        const QList<QVariantList> before = tables();
        // No table: publishing is off, and neither reading nor switching off creates one.
        QVERIFY(!mqttsettings::load(conn).settings);
        QVERIFY(mqttsettings::remove(conn, nullptr));
        QCOMPARE(tables(), before);

        // Saving adds the table and its one row; the program's tables stay as they were.
        MqttSettings s{"127.0.0.1", 1884, "site/it's", "o'brien", "pa'ss\"word", true};
        QVERIFY(mqttsettings::save(conn, s, nullptr));
        QVERIFY(mqttsettings::save(conn, s, nullptr));
        QCOMPARE(tables().size(), before.size() + 1);
        for (const QVariantList &t : before) QVERIFY(tables().contains(t));
        QCOMPARE(
            db.rows("select * from mqttsetting"),
            (QList<QVariantList>{{"127.0.0.1", 1884, "site/it's", "o'brien", "pa'ss\"word", 1}}));
        QCOMPARE(mqttsettings::load(conn).settings, std::optional(s));

        // A row written by hand: a missing port and prefix take their defaults;
        // a row that cannot be used is refused with the reason.
        db.exec("update mqttsetting set port=NULL, prefix='', tls=0");
        s.port = 1883;
        s.prefix = "qx7";
        s.tls = false;
        QCOMPARE(mqttsettings::load(conn).settings, std::optional(s));
        db.exec("update mqttsetting set host=''");
        const mqttsettings::Loaded bad = mqttsettings::load(conn);
        QVERIFY(!bad.settings);
        QVERIFY2(bad.error.startsWith("MQTT设置无效："), qPrintable(bad.error));

        // Off: the row goes, the table stays.
        QVERIFY(mqttsettings::remove(conn, nullptr));
        QCOMPARE(db.scalar("select count(*) from mqttsetting").toInt(), 0);
    }

    void statusLines() {
        using S = MqttStatus::State;
        const auto status = [](S state, const QString &reason, int retry, int queued) {
            return MqttStatus{state, "h:1", reason, retry, queued, 10000, 0, false};
        };
        const std::pair<MqttStatus, const char *> cases[] = {
            {status(S::Off, "", 0, 0), ""},
            {status(S::Connecting, "", 0, 0), "MQTT：正在连接 h:1"},
            {status(S::Connected, "", 0, 3), "MQTT：已连接 h:1"},
            {status(S::Waiting, "连接中断", 4, 12),
             "MQTT：未连接 h:1（连接中断），4秒后重试，待发送 12 条"},
            {status(S::Waiting, mqttstatus::failure(MOSQ_ERR_EAI, 0), 1, 0),
             "MQTT：未连接 h:1（找不到主机），1秒后重试"}};
        for (const auto &[shown, text] : cases) QCOMPARE(mqttstatus::text(shown), QString(text));
    }

    // The queue's order, and what it sends again after a lost connection.
    void queue() {
        MqttQueue q;
        q.push(fifo("1"));
        q.push(fifo("2"));
        QCOMPARE(q.takeNext()->payload, QByteArray("1"));
        q.setInFlightId(7);
        // One message on its way at a time; only its own acknowledgement frees the way.
        QVERIFY(!q.canSend());
        QVERIFY(!q.acknowledge(8));
        QVERIFY(q.acknowledge(7));
        // The latest values, one per topic, go before the history, which keeps its order.
        q.push(latest("qx7/1/last", "a1"));
        q.push(latest("qx7/2/last", "b1"));
        q.push(fifo("3"));
        q.push(latest("qx7/1/last", "a2"));
        QCOMPARE(q.size(), 4);
        QCOMPARE(drain(q), (QByteArrayList{"a2", "b1", "2", "3"}));
        // A message the library refuses is given up.
        q.push(fifo("4"));
        q.takeNext();
        q.dropInFlight();
        QVERIFY(q.isEmpty());

        q.push(fifo("1"));
        q.push(fifo("2"));
        q.takeNext();
        q.setInFlightId(1);
        q.requeueInFlight();         // the connection went before the acknowledgement
        QVERIFY(!q.acknowledge(1));  // a late acknowledgement of the old connection
        QCOMPARE(drain(q), (QByteArrayList{"1", "2"}));
        // A latest value lost on its way goes again, unless a newer one came.
        q.push(latest("qx7/1/last", "old"));
        q.takeNext();
        q.requeueInFlight();
        QCOMPARE(drain(q), QByteArrayList{"old"});
        q.push(latest("qx7/1/last", "old"));
        q.takeNext();
        q.push(latest("qx7/1/last", "new"));
        q.requeueInFlight();
        QCOMPARE(drain(q), QByteArrayList{"new"});
    }

    void publishesReadingsAlarmsAndStatus() {
        MqttBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber live(broker.port(), "qx7/#");
        QVERIFY(live.start());
        MqttPublisher pub;
        QVERIFY(connects(pub, broker.settings()));

        pub.publishReading(1, 23.5, 45.2, "2024-03-05 10:00:00");
        pub.publishReading(2, -10, 0, "2024-03-05 10:00:01");
        pub.publishReading(1, 23.6, 45, "2024-03-05 10:00:02");
        pub.publishAlarm(2, "no_reply", "on", std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(live.payloads("qx7/2/alarm").size(), 1, kWait);
        QCOMPARE(live.payloads("qx7/1/state"),
                 (QByteArrayList{R"({"temp": 23.5, "hum": 45.2, "time": "2024-03-05 10:00:00"})",
                                 R"({"temp": 23.6, "hum": 45, "time": "2024-03-05 10:00:02"})"}));
        QCOMPARE(live.payloads("qx7/2/state"),
                 QByteArrayList{R"({"temp": -10, "hum": 0, "time": "2024-03-05 10:00:01"})"});
        const QJsonObject alarm = QJsonDocument::fromJson(live.payloads("qx7/2/alarm")[0]).object();
        QCOMPARE(alarm.value("kind").toString() + ' ' + alarm.value("state").toString(),
                 "no_reply on");
        QVERIFY(isRecordTime(alarm.value("time").toString()));

        // A subscriber that comes later gets what is retained: the latest reading
        // of each module and the program's status, nothing of the history.
        MqttSubscriber late(broker.port(), "qx7/#");
        QVERIFY(late.start());
        QTRY_COMPARE_WITH_TIMEOUT(late.count(), 3, kWait);
        QCOMPARE(late.payloads("qx7/1/last"), live.payloads("qx7/1/state").mid(1));
        QCOMPARE(late.payloads("qx7/2/last"), live.payloads("qx7/2/state"));
        QCOMPARE(late.payloads("qx7/status"), QByteArrayList{"online"});

        // A clean stop says "offline" itself, after the one "online"; the broker keeps that.
        pub.stop();
        QVERIFY(pub.statusText().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(live.payloads("qx7/status"),
                                  (QByteArrayList{"online", "offline"}), kWait);
        pub.publishReading(1, 1, 1, "2024-03-05 10:00:03");  // off: nothing goes out, nothing runs
    }

    void brokenLineRepeatsAtMostTheMessageInFlightAndLeavesTheWill() {
        MqttBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber sub(broker.port(), "qx7/#");
        QVERIFY(sub.start());
        // The publisher reaches the broker through a line that the test breaks,
        // without a goodbye on either side, while readings stream.
        TcpRelay relay(broker.port());
        QVERIFY(relay.start());
        MqttPublisher pub;
        QVERIFY(connects(pub, broker.settings(relay.port())));

        constexpr int kReadings = 2000;
        publish(pub, 1, kReadings);
        // Many breaks: at each, the message on its way may or may not have reached the broker.
        const QList<int> cutAt{200, 400, 600, 800, 1000, 1200, 1400, 1600};
        int cuts = 0, broken = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QByteArrayList got = sub.payloads("qx7/1/state");
                // The subscriber lags behind the broker, by far when the test is
                // slow: break a connection only once the program has said "online"
                // on it, so that the broker has accepted it and holds its will.
                const bool back = sub.payloads("qx7/status").count("online") == cuts + 1;
                if (cuts < cutAt.size() && back && got.size() >= cutAt[cuts]) {
                    broken += relay.cut();
                    ++cuts;
                }
                // The last readings may reach the broker before the last break: the
                // program must still come back after it.
                return cuts == cutAt.size() && back && !got.isEmpty() &&
                       temperatures({got.constLast()}) == QList<int>{kReadings};
            },
            6 * kWait));
        QCOMPARE(broken, cuts);  // each cut broke a live connection

        // Every reading, in order; a repeat only right after its first copy
        // (the broker had it, its acknowledgement was lost), at most one a break.
        const QList<int> got = temperatures(sub.payloads("qx7/1/state"));
        QList<int> once = got;
        once.erase(std::unique(once.begin(), once.end()), once.end());
        QCOMPARE(once, range(1, kReadings));
        QVERIFY2(got.size() - once.size() <= cuts, qPrintable(QString::number(got.size())));
        // At each break the broker said the program's last will; the program
        // said "online" again when it was back.
        QByteArrayList statuses{"online"};
        for (int i = 0; i < cuts; ++i) statuses += {"offline", "online"};
        QTRY_COMPARE_WITH_TIMEOUT(sub.payloads("qx7/status"), statuses, kWait);
    }

    void reconnectsAfterABrokerRestartInOrder() {
        MqttBroker broker({.persistence = true});
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        // A persistent session: the broker keeps what comes for it while it is
        // away, so the subscriber sees everything that reached the broker, once.
        MqttSubscriber sub(broker.port(), "qx7/+/state", "qx7-test-persistent");
        QVERIFY(sub.start());
        MqttPublisher pub;
        QVERIFY(connects(pub, broker.settings()));

        publish(pub, 1, 20);
        // Everything acknowledged: nothing is on its way when the broker goes.
        QTRY_VERIFY_WITH_TIMEOUT(sub.count() == 20 && pub.status().queued == 0, kWait);
        QVERIFY(broker.stop());
        QTRY_VERIFY_WITH_TIMEOUT(pub.status().state == State::Waiting, kWait);
        publish(pub, 21, 60);  // while the broker is down: 40 readings and the latest value
        QTRY_COMPARE_WITH_TIMEOUT(pub.status().queued, 41, kWait);
        QVERIFY2(pub.statusText().endsWith("，待发送 41 条"), qPrintable(pub.statusText()));

        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(pub.status().state == State::Connected, kWait);
        publish(pub, 61, 80);
        QTRY_VERIFY_WITH_TIMEOUT(sub.count() >= 80, 3 * kWait);
        QCOMPARE(temperatures(sub.payloads("qx7/1/state")), range(1, 80));
    }

    void tlsTrustsTheSystemsCertificates() {
        if (QStandardPaths::findExecutable("openssl").isEmpty())
            QSKIP("openssl is not installed; it makes the test's certificate");
        MqttBroker broker({.tls = true});
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSettings tls = broker.settings();
        tls.tls = true;

        // The test's certificate is none of the system's: not trusted. A plain
        // connection to a TLS port gets nowhere either.
        const QByteArray earlier = qgetenv("SSL_CERT_FILE");
        const auto restore = qScopeGuard([&] {  // however the test ends
            earlier.isNull() ? qunsetenv("SSL_CERT_FILE") : qputenv("SSL_CERT_FILE", earlier);
        });
        qunsetenv("SSL_CERT_FILE");
        QVERIFY(probe(tls).contains("TLS握手失败"));
        QVERIFY(probe(broker.settings()).startsWith('-'));

        // OpenSSL's system store, pointed at the test's certificate.
        qputenv("SSL_CERT_FILE", broker.caFile().toLocal8Bit());
        const QString said = probe(tls);
        QVERIFY2(said.startsWith("+") && said.contains("通过TLS"), qPrintable(said));
        MqttPublisher pub;
        QVERIFY(connects(pub, tls));
        publish(pub, 1, 1);
        QTRY_COMPARE_WITH_TIMEOUT(pub.status().queued, 0, kWait);
    }

    void fullQueueDropsTheOldestAndSaysSoOnce() {
        MqttBroker broker;  // not started: nothing listens on its port yet
        MqttPublisher pub;
        pub.setTiming({.firstRetryMs = 600000, .maxRetryMs = 600000});  // no retry unless asked
        pub.setQueueLimit(50);
        QSignalSpy lines(&pub, &MqttPublisher::stateChanged);
        pub.apply(broker.settings());
        QTRY_VERIFY_WITH_TIMEOUT(pub.status().state == State::Waiting, kWait);

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
        QCOMPARE(lines.count({full}), 1);
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
