// MQTT publishing without a broker: topics and payloads, record times, the
// checks of the settings window, the settings row, the status line and the
// queue's order, bound and resend rules. The broker tests prove the same
// messages on the wire.
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

#include <cerrno>
#include <cmath>
#include <limits>

namespace {
MqttMessage fifo(const char *payload) {
    return {"qx7/1/state", payload, false, 1};
}
MqttMessage latest(const char *topic, const char *payload) {
    return {topic, payload, true, 1};
}
// Takes the next message, acknowledges it and returns its payload.
QByteArray sendOne(MqttQueue &q, int mid) {
    const auto m = q.takeNext();
    if (!m)
        return "(nothing)";
    q.setInFlightId(mid);
    q.acknowledge(mid);
    return m->payload;
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
    void queueOrderAndWindow();
    void queueKeepsTheLatestRetainedValue();
    void queueBoundDropsTheOldest();
    void queueResendsAfterALostConnection();
};

void TestMqttCore::readingPayloads_data() {
    QTest::addColumn<double>("temperature");
    QTest::addColumn<double>("humidity");
    QTest::addColumn<QByteArray>("payload");
    auto row = [&](const char *name, double temp, double hum, const char *numbers) {
        QTest::newRow(name) << temp << hum
                            << QByteArray(QByteArray("{") + numbers +
                                          ", \"time\": \"2024-03-05 10:00:00\"}");
    };
    row("tenths", 23.5, 45.2, "\"temp\": 23.5, \"hum\": 45.2");
    row("whole numbers without a point", 26, 0, "\"temp\": 26, \"hum\": 0");
    // Registers as the acquisition divides them: tenths of a signed and an
    // unsigned 16-bit value.
    row("below zero", qint16(-1) / 10.0, 1000 / 10.0, "\"temp\": -0.1, \"hum\": 100");
    row("register extremes", qint16(-32768) / 10.0, quint16(65535) / 10.0,
        "\"temp\": -3276.8, \"hum\": 6553.5");
    row("no number", std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), "\"temp\": null, \"hum\": null");
}

void TestMqttCore::readingPayloads() {
    QFETCH(double, temperature);
    QFETCH(double, humidity);
    QFETCH(QByteArray, payload);
    const QByteArray made =
        mqttformat::readingPayload(temperature, humidity, QStringLiteral("2024-03-05 10:00:00"));
    QCOMPARE(made, payload);
    // Any JSON reader takes it, with the same numbers.
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(made, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.value("time").toString(), QStringLiteral("2024-03-05 10:00:00"));
    if (std::isfinite(temperature))
        QCOMPARE(o.value("temp").toDouble(), temperature);
    else
        QVERIFY(o.value("temp").isNull());
}

void TestMqttCore::alarmPayloadsEscapeTheirTexts() {
    QCOMPARE(mqttformat::alarmPayload("temp_high", "on", 31.5, "2024-03-05 10:00:00"),
             QByteArray(R"({"kind": "temp_high", "state": "on", "value": 31.5, )"
                        R"("time": "2024-03-05 10:00:00"})"));
    QCOMPARE(mqttformat::alarmPayload("no_reply", "off", std::nullopt, "t"),
             QByteArray(R"({"kind": "no_reply", "state": "off", "value": null, "time": "t"})"));
    // Quotes, backslashes, control characters and Chinese survive a JSON reader.
    const QString odd = QStringLiteral("温度\"过高\"\\\n\t\x01");
    const QByteArray made = mqttformat::alarmPayload(odd, odd, -0.5, odd);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(made, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.value("kind").toString(), odd);
    QCOMPARE(o.value("state").toString(), odd);
    QCOMPARE(o.value("value").toDouble(), -0.5);
    QVERIFY(!made.contains('\n'));
}

void TestMqttCore::topicsAndFlags() {
    const QList<MqttMessage> reading =
        mqttformat::readingMessages("qx7", 17, 20, 50, "2024-03-05 10:00:00");
    QCOMPARE(reading.size(), 2);
    QCOMPARE(reading[0].topic, QByteArray("qx7/17/state"));
    QVERIFY(!reading[0].retain);
    QCOMPARE(reading[1].topic, QByteArray("qx7/17/last"));
    QVERIFY(reading[1].retain);
    QCOMPARE(reading[0].payload, reading[1].payload);
    QCOMPARE(reading[0].qos, 1);
    QCOMPARE(reading[1].qos, 1);

    const MqttMessage alarm = mqttformat::alarmMessage("site/厅2", 3, "k", "s", 1.0, "t");
    QCOMPARE(alarm.topic, QStringLiteral("site/厅2/3/alarm").toUtf8());
    QVERIFY(!alarm.retain);
    QCOMPARE(mqttformat::statusTopic("qx7"), QByteArray("qx7/status"));
    // What libmosquitto accepts as a topic to publish on.
    for (const QByteArray &topic : {reading[0].topic, alarm.topic, mqttformat::statusTopic("a/b")})
        QCOMPARE(mosquitto_pub_topic_check(topic.constData()), int(MOSQ_ERR_SUCCESS));
}

void TestMqttCore::recordTimeIsUtcPlusEight() {
    // As the database stamps records: UTC + 8 h, whatever zone the instant is in.
    const QDateTime lateUtc(QDate(2024, 3, 5), QTime(23, 30, 0), Qt::UTC);
    QCOMPARE(mqttformat::recordTime(lateUtc), QStringLiteral("2024-03-06 07:30:00"));
    const QDateTime sameInParis = lateUtc.toTimeZone(QTimeZone(3600));
    QCOMPARE(mqttformat::recordTime(sameInParis), QStringLiteral("2024-03-06 07:30:00"));
}

void TestMqttCore::settingsChecks_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("problem");  // a piece of the message; empty: accepted
    auto row = [](const char *name, const QString &host, int port, const QString &prefix,
                  const QString &user, const QString &password, const QString &problem) {
        QTest::newRow(name) << host << port << prefix << user << password << problem;
    };
    row("ip and default prefix", "127.0.0.1", 1883, "qx7", "", "", "");
    row("host name, deeper prefix", "broker.site-1.local", 8883, "qx7/hall 2", "u", "p", "");
    row("ipv6", "::1", 1, "qx7", "", "", "");
    row("login without password", "127.0.0.1", 65535, "qx7", "u", "", "");
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
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, prefix);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, problem);
    const MqttSettings s{host, port, prefix, username, password, false};
    const QString said = mqttsettings::check(s);
    if (problem.isEmpty())
        QVERIFY2(said.isEmpty(), qPrintable(said));
    else
        QVERIFY2(said.contains(problem), qPrintable(said));
    QVERIFY(password.isEmpty() || !said.contains(password));
    // The port box: blanks around are fine, anything else is not a port.
    QCOMPARE(mqttsettings::parsePort(" 1883 "), std::optional<int>(1883));
    QCOMPARE(mqttsettings::parsePort("18a3"), std::nullopt);
}

void TestMqttCore::settingsRow() {
    LiteConnection conn;
    TestDatabase db(conn);
    const auto tableSql = [&] {
        QStringList out;
        for (const QVariantList &r :
             db.rows("select name, sql from sqlite_master where type='table' order by name"))
            out << r[0].toString() + ": " + r[1].toString();
        return out;
    };
    const QStringList before = tableSql();

    // No table: publishing is off, and reading creates nothing.
    mqttsettings::Loaded loaded = mqttsettings::load(conn);
    QVERIFY(!loaded.settings);
    QVERIFY(loaded.error.isEmpty());
    QVERIFY(mqttsettings::remove(conn, nullptr));
    QCOMPARE(tableSql(), before);

    // Saving creates the table beside the program's tables, which stay as they were.
    MqttSettings s{"127.0.0.1", 1884, "site/it's", "o'brien", "pa'ss\"word", true};
    QString error;
    QVERIFY2(mqttsettings::save(conn, s, &error), qPrintable(error));
    QVERIFY(mqttsettings::save(conn, s, &error));  // still one row
    const QStringList after = tableSql();
    QCOMPARE(after.size(), before.size() + 1);
    for (const QString &t : before) QVERIFY(after.contains(t));
    QCOMPARE(db.scalar("select count(*) from mqttsetting").toInt(), 1);
    QCOMPARE(db.rows("select * from mqttsetting").first(),
             (QVariantList{"127.0.0.1", 1884, "site/it's", "o'brien", "pa'ss\"word", 1}));
    loaded = mqttsettings::load(conn);
    QCOMPARE(loaded.settings, std::optional<MqttSettings>(s));

    // A row written by hand: missing port and prefix take their defaults; a
    // row that cannot be used is refused with the reason.
    db.exec("update mqttsetting set port=NULL, prefix='', tls=0");
    loaded = mqttsettings::load(conn);
    QVERIFY(loaded.settings);
    QCOMPARE(loaded.settings->port, 1883);
    QCOMPARE(loaded.settings->prefix, QStringLiteral("qx7"));
    QVERIFY(!loaded.settings->tls);
    db.exec("update mqttsetting set host='', prefix='a/#'");
    loaded = mqttsettings::load(conn);
    QVERIFY(!loaded.settings);
    QVERIFY2(loaded.error.startsWith("MQTT设置无效："), qPrintable(loaded.error));

    // Off: the row goes, the table stays.
    QVERIFY(mqttsettings::remove(conn, &error));
    QCOMPARE(db.scalar("select count(*) from mqttsetting").toInt(), 0);
    loaded = mqttsettings::load(conn);
    QVERIFY(!loaded.settings);
    QVERIFY(loaded.error.isEmpty());
}

void TestMqttCore::statusLines_data() {
    QTest::addColumn<MqttStatus>("status");
    QTest::addColumn<QString>("text");
    using S = MqttStatus::State;
    auto row = [](const char *name, S state, const QString &reason, int retry, int queued,
                  quint64 dropped, bool overflow, const QString &text) {
        MqttStatus s;
        s.state = state;
        s.server = QStringLiteral("h:1");
        s.reason = reason;
        s.retrySeconds = retry;
        s.queued = queued;
        s.limit = 10000;
        s.dropped = dropped;
        s.overflow = overflow;
        QTest::newRow(name) << s << text;
    };
    row("off", S::Off, "", 0, 0, 0, false, "");
    row("connecting", S::Connecting, "", 0, 0, 0, false, "MQTT：正在连接 h:1");
    row("connected", S::Connected, "", 0, 3, 0, false, "MQTT：已连接 h:1");
    row("connected after an overflow", S::Connected, "", 0, 0, 31, false,
        "MQTT：已连接 h:1（队列溢出共丢弃 31 条）");
    row("waiting, nothing queued", S::Waiting, "连接被拒绝", 2, 0, 0, false,
        "MQTT：未连接 h:1（连接被拒绝），2秒后重试");
    row("waiting with a queue", S::Waiting, "连接中断", 4, 12, 0, false,
        "MQTT：未连接 h:1（连接中断），4秒后重试，待发送 12 条");
    row("waiting, queue full", S::Waiting, "连接中断", 60, 10000, 5, true,
        "MQTT：未连接 h:1（连接中断），60秒后重试；队列已满（10000 条），最早的消息被丢弃");
    row("refused login", S::Waiting, mqttstatus::refusal(5), 1, 0, 0, false,
        "MQTT：未连接 "
        "h:1（代理拒绝连接：未获授权（用户名或密码错误，或不允许匿名登录）），1秒后重试");
    row("no broker", S::Waiting, mqttstatus::failure(MOSQ_ERR_ERRNO, ECONNREFUSED), 1, 0, 0, false,
        "MQTT：未连接 h:1（连接被拒绝：代理未运行或端口不对），1秒后重试");
    row("unknown host", S::Waiting, mqttstatus::failure(MOSQ_ERR_EAI, 0), 1, 0, 0, false,
        "MQTT：未连接 h:1（找不到主机），1秒后重试");
}

void TestMqttCore::statusLines() {
    QFETCH(MqttStatus, status);
    QFETCH(QString, text);
    QCOMPARE(mqttstatus::text(status), text);
}

void TestMqttCore::queueOrderAndWindow() {
    MqttQueue q;
    QCOMPARE(q.limit(), 10000);
    QVERIFY(!q.canSend());
    QVERIFY(!q.takeNext());
    for (const char *p : {"1", "2", "3"}) q.push(fifo(p));
    QCOMPARE(q.takeNext()->payload, QByteArray("1"));
    q.setInFlightId(7);
    // One message on its way at a time; only its own acknowledgement frees the way.
    QVERIFY(!q.canSend());
    QVERIFY(!q.acknowledge(8));
    QCOMPARE(q.size(), 3);
    QVERIFY(q.acknowledge(7));
    QCOMPARE(q.size(), 2);
    QCOMPARE(sendOne(q, 9), QByteArray("2"));
    // A message the library refuses is given up; the next one follows.
    q.takeNext();
    q.dropInFlight();
    QVERIFY(q.isEmpty());
}

void TestMqttCore::queueKeepsTheLatestRetainedValue() {
    MqttQueue q;
    q.push(fifo("r1"));
    q.push(latest("qx7/1/last", "a1"));
    q.push(latest("qx7/2/last", "b1"));
    q.push(fifo("r2"));
    q.push(latest("qx7/1/last", "a2"));  // replaces a1 where it waits
    QCOMPARE(q.size(), 4);
    // The latest values first, then the history in order.
    QByteArrayList sent;
    for (int mid = 1; !q.isEmpty(); ++mid) sent << sendOne(q, mid);
    QCOMPARE(sent, (QByteArrayList{"a2", "b1", "r1", "r2"}));
}

void TestMqttCore::queueBoundDropsTheOldest() {
    MqttQueue q(5);
    int dropped = 0;
    for (int i = 1; i <= 8; ++i) dropped += q.push(fifo(QByteArray::number(i).constData()));
    QCOMPARE(dropped, 3);
    QCOMPARE(q.dropped(), quint64(3));
    QCOMPARE(q.size(), 5);
    QCOMPARE(sendOne(q, 1), QByteArray("4"));
    // Latest values count against the bound but never give way: the history does.
    q.clear();
    q.setLimit(3);
    q.push(latest("qx7/1/last", "a"));
    for (const char *p : {"1", "2", "3", "4"}) q.push(fifo(p));
    QCOMPARE(q.size(), 3);
    QByteArrayList sent;
    for (int mid = 1; !q.isEmpty(); ++mid) sent << sendOne(q, mid);
    QCOMPARE(sent, (QByteArrayList{"a", "3", "4"}));
    QCOMPARE(MqttQueue(0).limit(), 1);
}

void TestMqttCore::queueResendsAfterALostConnection() {
    MqttQueue q;
    q.push(fifo("1"));
    q.push(fifo("2"));
    QCOMPARE(q.takeNext()->payload, QByteArray("1"));
    q.setInFlightId(1);
    q.requeueInFlight();  // the connection went before the acknowledgement
    QVERIFY(!q.hasInFlight());
    QVERIFY(!q.acknowledge(1));  // a late acknowledgement of the old connection
    QByteArrayList sent;
    for (int mid = 10; !q.isEmpty(); ++mid) sent << sendOne(q, mid);
    QCOMPARE(sent, (QByteArrayList{"1", "2"}));

    // A latest value lost on its way goes again, unless a newer one came.
    q.push(latest("qx7/1/last", "old"));
    q.takeNext();
    q.requeueInFlight();
    QCOMPARE(sendOne(q, 20), QByteArray("old"));
    q.push(latest("qx7/1/last", "old"));
    q.takeNext();
    q.push(latest("qx7/1/last", "new"));
    q.requeueInFlight();
    QCOMPARE(q.size(), 1);
    QCOMPARE(sendOne(q, 21), QByteArray("new"));
}

QTEST_GUILESS_MAIN(TestMqttCore)
#include "tst_mqtt_core.moc"
