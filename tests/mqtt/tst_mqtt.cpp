// MQTT publishing: topics and payloads, the settings' checks and row, the
// queue's order and resend rules, the connection's states; then the
// publisher against a real mosquitto on a free loopback port: Home
// Assistant's discovery, the last will when the line breaks, no repeat or
// swap over a broken line, retained values and the status, TLS with the
// system's certificate store, and a full queue. A refused login is
// tested through the settings window, in tst_mqttsetting.
#include "mqtt/MqttConnection.h"
#include "mqtt/MqttFormat.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/MqttQueue.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/MqttStatus.h"
#include "support/FakeClock.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/TcpRelay.h"
#include "support/TestDatabase.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <mosquitto.h>

Q_DECLARE_METATYPE(MqttSettings)

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

// A reading's payload without its "ts", which must be an instant from
// `from` to now.
QByteArray stamped(const QByteArray &payload, qint64 from) {
    const qsizetype at = payload.indexOf(", \"ts\": ");
    const qint64 ts = payload.mid(at + 8).chopped(1).toLongLong();
    if (at < 0 || ts < from || ts > QDateTime::currentMSecsSinceEpoch())
        return "wrong ts: " + payload;
    return payload.left(at) + '}';
}

QList<int> range(int from, int to) {
    QList<int> out;
    for (int i = from; i <= to; ++i) out << i;
    return out;
}

// A transport that sends nothing: it notes what goes to the status topic
// and numbers the messages as a broker's client would.
class CountingTransport : public MqttTransport {
public:
    CountingTransport(QStringList *status, int *mid) : status_(status), mid_(mid) {}
    Sent publish(const MqttMessage &m) override {
        if (m.topic.endsWith("/status"))
            *status_ << QString::fromUtf8(m.payload);
        return {Sent::Outcome::Sent, ++*mid_, {}};
    }
    void subscribe(const QByteArray &) override {}
    void disconnect() override {}
    void close() override {}

private:
    QStringList *status_;
    int *mid_;
};

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
    void readingPayload_data() {
        QTest::addColumn<double>("temperature");
        QTest::addColumn<double>("humidity");
        QTest::addColumn<QByteArray>("numbers");
        // Registers as the acquisition divides them: signed and unsigned tenths.
        QTest::newRow("tenths") << 23.5 << 45.2 << QByteArray(R"("temp": 23.5, "hum": 45.2)");
        QTest::newRow("whole") << 26.0 << 0.0 << QByteArray(R"("temp": 26, "hum": 0)");
        QTest::newRow("extremes") << qint16(-32768) / 10.0 << quint16(65535) / 10.0
                                  << QByteArray(R"("temp": -3276.8, "hum": 6553.5)");
        QTest::newRow("not numbers")
            << qQNaN() << qInf() << QByteArray(R"("temp": null, "hum": null)");
    }
    void readingPayload() {
        QFETCH(double, temperature);
        QFETCH(double, humidity);
        QFETCH(QByteArray, numbers);
        QCOMPARE(
            mqttformat::readingPayload(temperature, humidity, "2024-03-05 10:00:00", 1709604000123),
            "{" + numbers + R"(, "time": "2024-03-05 10:00:00", "ts": 1709604000123})");
    }

    void alarmPayloadAndTopics() {
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

        const QList<MqttMessage> reading =
            mqttformat::readingMessages("site/厅2", 17, 20, 50, "2024-03-05 10:00:00", 0);
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
        // Home Assistant's ids take only letters, digits, '_' and '-'.
        QCOMPARE(mqttformat::discoveryNode("qx7/hall-1"), QByteArray("qx7_hall-1"));
        QVERIFY(mqttformat::discoveryNode("site/厅2").startsWith("site____"));
        QVERIFY(mqttformat::discoveryNode("site/厅2") != mqttformat::discoveryNode("site/厅3"));
    }

    // The settings as the window or the row gives them: each refused one with
    // a piece of its message (none: accepted); never the password.
    void settingsChecks_data() {
        QTest::addColumn<MqttSettings>("settings");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char *name, const QString &host, int port, const QString &prefix,
                            const char *problem, const QString &discovery = "homeassistant") {
            QTest::newRow(name) << MqttSettings{host, port, prefix, "u", "p", false, discovery}
                                << QString(problem);
        };
        const QString h = "127.0.0.1";
        row("name, port and prefix", "broker.site-1.local", 8883, "qx7/hall 2", "");
        row("IPv6, highest port", "::1", 65535, "qx7", "");
        row("no discovery", h, 1883, "qx7", "", "");
        row("emoji", h, 1883, "qx7/\U0001F321", "");
        row("blank host", "  ", 1883, "qx7", "请填写MQTT代理的地址");
        row("blank in host", "my host", 1883, "qx7", "代理地址“my host”无效");
        row("port 0", h, 0, "qx7", "1到65535");
        row("port 65536", h, 65536, "qx7", "1到65535");
        row("no prefix", h, 1883, "", "请填写主题前缀");
        row("+", h, 1883, "qx7/+", "主题前缀不能含有“+”或“#”");
        row("empty level", h, 1883, "a//b", "“//”");
        row("$", h, 1883, "$SYS", "“$”开头");
        row("U+0000", h, 1883, QString("a") + QChar(0) + "b", "控制字符");
        row("U+007F", h, 1883, "a\x7f", "控制字符");
        row("U+0085", h, 1883, QString("a") + QChar(0x85), "控制字符");
        row("U+FFFE", h, 1883, QString("qx7") + QChar(0xFFFE), "不允许的字符（U+FFFE）");
        row("U+1FFFF", h, 1883, "qx7" + QString::fromUcs4(U"\U0001FFFF"), "（U+1FFFF）");
        row("lone surrogate", h, 1883, QString("qx7") + QChar(0xD800), "（U+D800）");
        row("too long", h, 1883, QString(201, 'a'), "太长");
        row("discovery #", h, 1883, "qx7", "自动发现前缀不能含有“+”或“#”", "ha/#");
        row("discovery U+FFFF", h, 1883, "qx7", "自动发现前缀不能含有MQTT主题不允许的字符",
            QString("ha") + QChar(0xFFFF));
        QTest::newRow("password alone")
            << MqttSettings{h, 1883, "qx7", "", "secret", false, ""} << "必须同时填写用户名";
    }
    void settingsChecks() {
        QFETCH(MqttSettings, settings);
        QFETCH(QString, problem);
        const QString said = mqttsettings::check(settings);
        QVERIFY2(problem.isEmpty() ? said.isEmpty() : said.contains(problem), qPrintable(said));
        QVERIFY(!said.contains(settings.password));
        // What is accepted, the broker takes: the topics are valid UTF-8 as MQTT has it.
        if (said.isEmpty()) {
            const QByteArray topic = mqttformat::statusTopic(settings.prefix);
            QCOMPARE(mosquitto_validate_utf8(topic.constData(), int(topic.size())),
                     int(MOSQ_ERR_SUCCESS));
        }
    }

    // A table saved before discovery came: read as it is (discovery on, with
    // Home Assistant's prefix); the next save adds the column and keeps the others.
    void settingsRowFromBefore() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.exec(
            "CREATE TABLE mqttsetting (host TEXT, port INTEGER, prefix TEXT, username TEXT, "
            "password TEXT, tls INTEGER)");
        db.exec("insert into mqttsetting values ('127.0.0.1', 1883, 'qx7', '', '', 0)");
        MqttSettings s{"127.0.0.1", 1883, "qx7", "", "", false, "homeassistant"};
        QCOMPARE(mqttsettings::load(conn).settings, std::optional(s));
        s.discoveryPrefix.clear();
        QVERIFY(mqttsettings::save(conn, s, nullptr));
        QCOMPARE(db.rows("select * from mqttsetting"),
                 (QList<QVariantList>{{"127.0.0.1", 1883, "qx7", "", "", 0, ""}}));
        QCOMPARE(mqttsettings::load(conn).settings, std::optional(s));
    }

    // A row written by hand: blanks take their defaults; what cannot be used
    // as it is stands is refused with the reason, never cut or guessed.
    void storedRow_data() {
        QTest::addColumn<QString>("values");  // port, prefix, tls, discovery
        QTest::addColumn<QString>("loaded");  // port prefix tls discovery, or the problem
        const auto row = [](const char *name, const char *values, const char *loaded) {
            QTest::newRow(name) << QString(values) << QString(loaded);
        };
        row("blanks", "NULL, '', NULL, NULL", "1883 qx7 0 homeassistant");
        row("tls, no discovery", "8883, 'a/b', 1, ''", "8883 a/b 1 ");
        row("port as text", "'1884', 'qx7', 0, 'ha'", "1884 qx7 0 ha");
        row("port beyond 32 bits", "4294985127, 'qx7', 0, NULL",
            "端口必须是1到65535之间的整数，保存的是“4294985127”");
        row("port 0", "0, 'qx7', 0, NULL", "端口必须是1到65535");
        row("port with a fraction", "1883.5, 'qx7', 0, NULL", "端口必须是1到65535");
        row("port not a number", "'mqtt', 'qx7', 0, NULL", "端口必须是1到65535");
        row("tls yes", "1883, 'qx7', 'yes', NULL", "tls只能是0（不用TLS）或1");
        row("tls 2", "1883, 'qx7', 2, NULL", "保存的是“2”");
        row("prefix U+FFFE", "1883, 'qx7' || char(65534), 0, NULL", "不允许的字符（U+FFFE）");
    }
    void storedRow() {
        QFETCH(QString, values);
        QFETCH(QString, loaded);
        LiteConnection conn;
        TestDatabase db(conn);
        db.exec(mqttsettings::createTableStatement());
        db.exec(
            "insert into mqttsetting (host, port, prefix, tls, discovery) select '127.0.0.1', " +
            values);
        const mqttsettings::Loaded got = mqttsettings::load(conn);
        if (got.settings) {
            const MqttSettings &s = *got.settings;
            QCOMPARE(QString::number(s.port) + ' ' + s.prefix + ' ' + QString::number(s.tls) + ' ' +
                         s.discoveryPrefix,
                     loaded);
        } else {
            QVERIFY2(got.error.startsWith("MQTT设置无效：") && got.error.contains(loaded),
                     qPrintable(got.error));
        }
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

    // The connection's states, walked through a transport that only counts:
    // each script of events ends in the states the connection went through,
    // its pause before the next attempt and what it said on its status topic.
    void connectionStates_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("states");
        QTest::addColumn<int>("retrySeconds");
        QTest::addColumn<QString>("said");
        const auto row = [](const char *name, const char *script, const QString &states,
                            int retrySeconds, const char *said) {
            QTest::newRow(name) << QString(script) << states << retrySeconds << QString(said);
        };
        const QString waiting = "Connecting Waiting", connected = "Connecting Connected";
        const QString goodbye = connected + " SayingGoodbye";
        row("refused", "start refuse", waiting, 1, "");
        row("pause not over", "start refuse +999", waiting, 1, "");
        row("pause over", "start refuse +1000", waiting + " Connecting", 0, "");
        row("pauses stop at a minute",
            "start refuse +1000 refuse +2000 refuse +4000 refuse +8000 refuse +16000 refuse "
            "+32000 refuse +60000 refuse",
            QString("Connecting Waiting ").repeated(8).trimmed(), 60, "");
        row("no answer in 10 s", "start +9999 +1", waiting, 1, "");
        row("accepted", "start accept", connected, 0, "online");
        row("lost: the pause starts again", "start refuse +1000 accept lose",
            waiting + " Connecting Connected Waiting", 1, "online");
        row("old news while waiting", "start refuse lose accept", waiting, 1, "");
        row("same settings while waiting: at once", "start refuse start", waiting + " Connecting",
            0, "");
        row("same settings while connected", "start accept start", connected, 0, "online");
        row("other settings: goodbye first", "start accept other", goodbye, 0, "online offline");
        row("other settings: then the new connection", "start accept other ack",
            goodbye + " Connecting", 0, "online offline");
        row("stop: goodbye acknowledged", "start accept stop ack", goodbye + " Finished", 0,
            "online offline");
        row("stop: goodbye unanswered for a second", "start accept stop +999 +1",
            goodbye + " Finished", 0, "online offline");
        row("stop: line lost during the goodbye", "start accept stop lose +60000",
            goodbye + " Finished", 0, "online offline");
        row("stop while waiting: no more attempts", "start refuse stop +60000 start",
            waiting + " Finished", 0, "");
    }
    void connectionStates() {
        QFETCH(QString, script);
        QFETCH(QString, states);
        QFETCH(int, retrySeconds);
        QFETCH(QString, said);
        FakeClock clock;
        QStringList went, statusSaid;
        int mid = 0;
        const auto factory = [&](const MqttSettings &, const MqttMessage &, int, QString *) {
            return MqttTransportPtr(new CountingTransport(&statusSaid, &mid));
        };
        MqttConnection c(clock, factory);
        connect(&c, &MqttConnection::stateChanged, this, [&](MqttConnection::State state) {
            went << QMetaEnum::fromType<MqttConnection::State>().valueToKey(int(state));
        });
        MqttSettings one, other;
        one.host = other.host = "127.0.0.1";
        other.port = 1884;
        for (const QString &event : script.split(' ')) {
            if (event == "start" || event == "other")
                c.start(event == "start" ? one : other);
            else if (event == "accept")
                c.onConnectAccepted();
            else if (event == "refuse")
                c.onConnectRefused(5);
            else if (event == "lose")
                c.onConnectLost("连接中断");
            else if (event == "ack")
                c.onPublishAcknowledged(mid);
            else if (event == "stop")
                c.finish();
            else {
                clock.advance(event.toInt());
                c.tick();
            }
        }
        QCOMPARE(went.join(' '), states);
        QCOMPARE(c.status().retrySeconds, retrySeconds);
        QCOMPARE(statusSaid.join(' '), said);
    }

    // Home Assistant learns each module's two sensors from retained
    // configurations, again when it starts, and forgets a module that went.
    void homeAssistantDiscovery() {
        MqttBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber ha(broker.port(), "homeassistant/sensor/#");
        QVERIFY(ha.start());
        MqttPublisher pub;
        pub.setModules({{1, "QX-7"}, {12, ""}});
        QVERIFY(connects(pub, broker.settings()));
        const QByteArray t1 = "homeassistant/sensor/qx7/1_temperature/config",
                         h12 = "homeassistant/sensor/qx7/12_humidity/config";
        QTRY_COMPARE_WITH_TIMEOUT(ha.count(), 4, kWait);
        const QJsonObject temperature = QJsonDocument::fromJson(ha.payloads(t1).value(0)).object();
        QCOMPARE(temperature,
                 QJsonDocument::fromJson(R"({"name": "温度", "device_class": "temperature",
                     "unit_of_measurement": "°C", "state_class": "measurement",
                     "state_topic": "qx7/1/state", "value_template": "{{ value_json.temp }}",
                     "availability_topic": "qx7/status", "payload_available": "online",
                     "payload_not_available": "offline", "unique_id": "qx7_1_temperature",
                     "object_id": "qx7_1_temperature", "device": {"identifiers": ["qx7_1"],
                     "name": "qx7 模块1", "model": "QX-7"}})")
                     .object());
        const QJsonObject humidity = QJsonDocument::fromJson(ha.payloads(h12).value(0)).object();
        QCOMPARE(humidity.value("device_class").toString() + ' ' +
                     humidity.value("unit_of_measurement").toString() + ' ' +
                     humidity.value("value_template").toString() + ' ' +
                     humidity.value("device").toObject().value("name").toString(),
                 "humidity % {{ value_json.hum }} qx7 模块12");

        // Home Assistant (re)started: everything again.
        QCOMPARE(QProcess::execute("mosquitto_pub", {"-p", QString::number(broker.port()), "-t",
                                                     "homeassistant/status", "-m", "online"}),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(ha.count(), 8, kWait);
        // Module 12 went: its sensors are taken back, module 1's stay.
        pub.setModules({{1, "QX-7"}});
        QTRY_COMPARE_WITH_TIMEOUT(ha.payloads(h12).size(), 3, kWait);
        QCOMPARE(ha.payloads(h12).last(), QByteArray());
        MqttSubscriber late(broker.port(), "homeassistant/sensor/#");
        QVERIFY(late.start());
        QTRY_VERIFY_WITH_TIMEOUT(late.count() >= 2, kWait);
        QCOMPARE(late.payloads(t1).value(0), ha.payloads(t1).value(0));

        // Discovery switched off: module 1's are taken back too. (The list
        // change above may still be sending module 1's configurations again.)
        MqttSettings off = broker.settings();
        off.discoveryPrefix.clear();
        pub.apply(off);
        QTRY_COMPARE_WITH_TIMEOUT(late.payloads(t1).last(), QByteArray(), kWait);
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
        const qint64 from = QDateTime::currentMSecsSinceEpoch();
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

        // A subscriber that comes later gets what is retained: the latest
        // reading, stamped with the instant it was taken, and the program's
        // status; nothing of the history.
        MqttSubscriber late(broker.port(), "qx7/#");
        QVERIFY(late.start());
        QTRY_COMPARE_WITH_TIMEOUT(late.count(), 2, kWait);
        QCOMPARE(stamped(late.payloads("qx7/1/last").value(0), from),
                 R"({"temp": 2000, "hum": 50, "time": "2024-03-05 10:00:00"})");
        QCOMPARE(late.payloads("qx7/status"), QByteArrayList{"online"});
        // A clean stop says "offline" itself; the broker keeps that.
        QVERIFY(pub.stop());
        QVERIFY(pub.statusText().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(late.payloads("qx7/status"),
                                  (QByteArrayList{"online", "offline"}), kWait);
        publish(pub, 1, 1);  // off: nothing goes out, nothing runs
    }

    void tlsTrustsTheSystemsCertificates() {
        if (QStandardPaths::findExecutable("openssl").isEmpty())
            QSKIP("openssl is not installed; it makes the test's certificate");
        MqttBroker broker({.tls = true});
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSettings tls = broker.settings();
        tls.tls = true;

        // The test's certificate is none of the system's: not trusted. A plain
        // connection to a TLS port gets nowhere either, nor TLS to a plain
        // port, which is no matter of certificates.
        const QByteArray earlier = qgetenv("SSL_CERT_FILE");
        const auto restore = qScopeGuard([&] {  // however the test ends
            earlier.isNull() ? qunsetenv("SSL_CERT_FILE") : qputenv("SSL_CERT_FILE", earlier);
        });
        qunsetenv("SSL_CERT_FILE");
        QVERIFY(probe(tls).contains("TLS握手失败：证书不受信任"));
        QVERIFY(probe(broker.settings()).startsWith('-'));
        MqttBroker plain;
        QVERIFY2(plain.start(), qPrintable(plain.errorString()));
        MqttSettings tlsToPlain = plain.settings();
        tlsToPlain.tls = true;
        const QString toPlain = probe(tlsToPlain);
        QVERIFY2(toPlain.contains("TLS握手失败") && !toPlain.contains("证书"), qPrintable(toPlain));

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

        const QString server = broker.settings().server();
        publish(pub, 1, 20);  // 20 readings and the latest value wait
        QTRY_COMPARE_WITH_TIMEOUT(pub.status().queued, 21, kWait);
        QCOMPARE(pub.statusText(),
                 "MQTT：未连接 " + server +
                     "（连接被拒绝：代理未运行或端口不对），600秒后重试，待发送 21 条");
        publish(pub, 21, 80);
        QTRY_COMPARE_WITH_TIMEOUT(pub.status().dropped, quint64(31), kWait);
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
