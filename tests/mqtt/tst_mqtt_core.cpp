// MQTT publishing without a broker: topics and payloads, record times, the
// settings' checks and row, the status line and the queue's order and resend
// rules. The broker tests prove the same on the wire, and the queue's bound.
#include "mqtt/MqttFormat.h"
#include "mqtt/MqttQueue.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/MqttStatus.h"
#include "support/TestDatabase.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

#include <mosquitto.h>

#include <limits>

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
}  // namespace

class TestMqttCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readingPayloads_data();
    void readingPayloads();
    void alarmPayloadsEscapeTheirTexts();
    void topicsAndFlags();
    void recordTimeIsUtcPlusEight();
    void settingsChecks_data();
    void settingsChecks();
    void settingsRow();
    void statusLines_data();
    void statusLines();
    void queueOrderAndLatestValues();
    void queueResendsAfterALostConnection();
};

void TestMqttCore::readingPayloads_data() {
    QTest::addColumn<double>("temperature");
    QTest::addColumn<double>("humidity");
    QTest::addColumn<QByteArray>("numbers");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("tenths") << 23.5 << 45.2 << QByteArray(R"("temp": 23.5, "hum": 45.2)");
    QTest::newRow("whole") << 26.0 << 0.0 << QByteArray(R"("temp": 26, "hum": 0)");
    // Registers as the acquisition divides them: signed and unsigned tenths.
    QTest::newRow("register extremes") << qint16(-32768) / 10.0 << quint16(65535) / 10.0
                                       << QByteArray(R"("temp": -3276.8, "hum": 6553.5)");
    QTest::newRow("no number") << nan << std::numeric_limits<double>::infinity()
                               << QByteArray(R"("temp": null, "hum": null)");
}

void TestMqttCore::readingPayloads() {
    QFETCH(double, temperature);
    QFETCH(double, humidity);
    QFETCH(QByteArray, numbers);
    QCOMPARE(mqttformat::readingPayload(temperature, humidity, "2024-03-05 10:00:00"),
             "{" + numbers + R"(, "time": "2024-03-05 10:00:00"})");
}

void TestMqttCore::alarmPayloadsEscapeTheirTexts() {
    QCOMPARE(mqttformat::alarmPayload("no_reply", "on", std::nullopt, "t"),
             QByteArray(R"({"kind": "no_reply", "state": "on", "value": null, "time": "t"})"));
    // Quotes, backslashes, control characters and Chinese survive a JSON reader.
    const QString odd = QStringLiteral("温度\"过高\"\\\n\t\x01");
    const QByteArray made = mqttformat::alarmPayload(odd, "off", -0.5, "t");
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(made, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.value("kind").toString(), odd);
    QCOMPARE(o.value("value").toDouble(), -0.5);
}

void TestMqttCore::topicsAndFlags() {
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
}

void TestMqttCore::recordTimeIsUtcPlusEight() {
    // As the database stamps records: UTC + 8 h, whatever zone the instant is in.
    const QDateTime lateUtc(QDate(2024, 3, 5), QTime(23, 30, 0), Qt::UTC);
    for (const QDateTime &t : {lateUtc, lateUtc.toTimeZone(QTimeZone(3600))})
        QCOMPARE(mqttformat::recordTime(t), QStringLiteral("2024-03-06 07:30:00"));
}

void TestMqttCore::settingsChecks_data() {
    QTest::addColumn<MqttSettings>("settings");
    QTest::addColumn<QString>("problem");  // a piece of the message; empty: accepted
    auto row = [](const char *name, const QString &host, int port, const QString &prefix,
                  const QString &user, const QString &password, const QString &problem) {
        QTest::newRow(name) << MqttSettings{host, port, prefix, user, password, false} << problem;
    };
    row("host name, deeper prefix", "broker.site-1.local", 8883, "qx7/hall 2", "u", "p", "");
    row("ipv6, login without password", "::1", 65535, "qx7", "u", "", "");
    row("no host", "  ", 1883, "qx7", "", "", "请填写MQTT代理的地址");
    row("blank inside host", "my host", 1883, "qx7", "", "", "代理地址“my host”无效");
    row("url instead of host", "mqtt://x", 1883, "qx7", "", "", "无效");
    row("port 0", "127.0.0.1", 0, "qx7", "", "", "1到65535");
    row("port too big", "127.0.0.1", 65536, "qx7", "", "", "1到65535");
    row("no prefix", "127.0.0.1", 1883, "", "", "", "请填写主题前缀");
    row("wildcard +", "127.0.0.1", 1883, "qx7/+", "", "", "“+”或“#”");
    row("wildcard #", "127.0.0.1", 1883, "qx7#", "", "", "“+”或“#”");
    row("leading slash", "127.0.0.1", 1883, "/qx7", "", "", "“/”开头或结尾");
    row("empty level", "127.0.0.1", 1883, "a//b", "", "", "“//”");
    row("system topic", "127.0.0.1", 1883, "$SYS", "", "", "“$”开头");
    row("control character", "127.0.0.1", 1883, "a\tb", "", "", "控制字符");
    row("too long", "127.0.0.1", 1883, QString(201, 'a'), "", "", "太长");
    row("password without user", "127.0.0.1", 1883, "qx7", "", "secret", "必须同时填写用户名");
}

void TestMqttCore::settingsChecks() {
    QFETCH(MqttSettings, settings);
    QFETCH(QString, problem);
    const QString said = mqttsettings::check(settings);
    QVERIFY2(problem.isEmpty() ? said.isEmpty() : said.contains(problem), qPrintable(said));
    QVERIFY(settings.password.isEmpty() || !said.contains(settings.password));
}

void TestMqttCore::settingsRow() {
    LiteConnection conn;
    TestDatabase db(conn);
    const auto tables = [&] { return db.rows("select name, sql from sqlite_master order by 1"); };
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
    QCOMPARE(db.rows("select * from mqttsetting"),
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

void TestMqttCore::statusLines_data() {
    QTest::addColumn<MqttStatus>("status");
    QTest::addColumn<QString>("text");
    using S = MqttStatus::State;
    auto row = [](const char *name, S state, const QString &reason, int retry, int queued,
                  quint64 dropped, bool overflow, const QString &text) {
        QTest::newRow(name) << MqttStatus{state,  "h:1", reason,  retry,
                                          queued, 10000, dropped, overflow}
                            << text;
    };
    row("off", S::Off, "", 0, 0, 0, false, "");
    row("connecting", S::Connecting, "", 0, 0, 0, false, "MQTT：正在连接 h:1");
    row("connected", S::Connected, "", 0, 3, 0, false, "MQTT：已连接 h:1");
    row("waiting with a queue", S::Waiting, "连接中断", 4, 12, 0, false,
        "MQTT：未连接 h:1（连接中断），4秒后重试，待发送 12 条");
    row("unknown host", S::Waiting, mqttstatus::failure(MOSQ_ERR_EAI, 0), 1, 0, 0, false,
        "MQTT：未连接 h:1（找不到主机），1秒后重试");
}

void TestMqttCore::statusLines() {
    QFETCH(MqttStatus, status);
    QFETCH(QString, text);
    QCOMPARE(mqttstatus::text(status), text);
}

void TestMqttCore::queueOrderAndLatestValues() {
    MqttQueue q;
    QCOMPARE(q.limit(), 10000);
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
}

void TestMqttCore::queueResendsAfterALostConnection() {
    MqttQueue q;
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

QTEST_GUILESS_MAIN(TestMqttCore)
#include "tst_mqtt_core.moc"
