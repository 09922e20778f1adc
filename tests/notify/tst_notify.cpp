// Alarm notifications: the signatures against the services' documented
// samples, the messages and the answers that count as delivered, the queue
// that the record writer fills with each alarm, and the notifier against
// real local servers (robots and a webhook over HTTP and HTTPS, SMTP plain
// and with STARTTLS): one message per channel, grouping, an outage, error
// answers, the 24 h give-up, a restart and reminders.
#include "notify/Notifier.h"
#include "notify/NotifyMessage.h"
#include "notify/NotifyStatements.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/ValueText.h"
#include "support/FakeClock.h"
#include "support/NotifyServers.h"
#include "support/TestDatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUrlQuery>

namespace {
constexpr int kWait = 15000;

QJsonObject json(const QByteArray &body) {
    return QJsonDocument::fromJson(body).object();
}

// The requests whose path starts with `path`, in order.
QList<RobotServer::Request> to(const RobotServer &server, const QByteArray &path) {
    QList<RobotServer::Request> out;
    for (const RobotServer::Request &r : server.requests) {
        if (r.target.startsWith(path))
            out << r;
    }
    return out;
}

QString robotText(const RobotServer::Request &r) {
    return json(r.body).value("text").toObject().value("content").toString();
}

// A database with the program's tables and the notifier on it, with a clock
// that the test moves.
struct Site {
    LiteConnection conn;
    TestDatabase db{conn};
    FakeClock clock{QDateTime::currentDateTimeUtc()};
    Notifier notifier{db.path(), clock};
    QStringList lines;  // what the signals said

    Site() {
        notifier.setTimeoutMs(1500);
        for (auto signal : {&Notifier::sent, &Notifier::failed, &Notifier::gaveUp})
            QObject::connect(&notifier, signal, [this](qint64, const QString &l) { lines << l; });
    }
    qint64 channel(const QString &kind, const QString &target, const QString &secret = {},
                   const QString &options = {}) {
        NotifyChannel c{0, kind, kind, target, secret, options, true};
        notifychannel::save(conn, &c);
        return c.id;
    }
    // One start or end of an alarm, stored as the acquisition has the record
    // writer store it.
    void alarm(int address, const QString &kind, std::optional<double> value,
               const QString &state) {
        db.exec(schema::createAlarmLogTable() + QStringLiteral("; ") +
                sql::insertAlarmLog(address, recordTimeText(clock.now()), kind, value, state) +
                QStringLiteral("; ") + notify::queueForLastAlarm());
    }
    // Moves the clock by `ms`, ticks, and waits until the notifier is done.
    bool step(qint64 ms) {
        clock.advance(ms);
        notifier.tick();
        const bool idle = QTest::qWaitFor([this] { return notifier.isIdle(); }, kWait);
        QCoreApplication::processEvents();  // the signals of what it did
        return idle;
    }
    // state, tries and error of every notifylog row, in order.
    QStringList log() {
        QStringList out;
        for (const QVariantList &r :
             db.rows("select state, tries, error from notifylog order by id"))
            out << r[0].toString() + QLatin1Char('/') + r[1].toString() + QLatin1Char('/') +
                       r[2].toString();
        return out;
    }
};
}  // namespace

class TestNotify : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void signing_data();
    void signing();
    void messages();
    void answers_data();
    void answers();
    void queueWithEachAlarm();
    void onePerChannelThenGrouped();
    void outage();
    void errorAnswers_data();
    void errorAnswers();
    void giveUpAfterADay();
    void restart();
    void reminders();
};

void TestNotify::signing_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("secret");
    QTest::addColumn<qint64>("timestamp");
    QTest::addColumn<QByteArray>("sign");
    // What each service's documented Python sample prints for these inputs
    // (DingTalk's sample secret; Feishu's sample timestamp and secret).
    QTest::newRow("dingtalk") << "dingtalk" << QByteArray("this is secret") << 1577262236757LL
                              << QByteArray("hmPWwU+7lVdm3ZZz0r9tSfx0L4Q26jWOZr9+Gs6EZQM=");
    QTest::newRow("feishu") << "feishu" << QByteArray("你的密钥") << 1599360473LL
                            << QByteArray("LGQ8uyis9+PUlaQz4PLURvxr+NWlGF+dpzH2lNT3ISQ=");
}

void TestNotify::signing() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, secret);
    QFETCH(qint64, timestamp);
    QFETCH(QByteArray, sign);
    const bool dingtalk = kind == QLatin1String("dingtalk");
    QCOMPARE(dingtalk ? notifymsg::dingtalkSign(secret, timestamp)
                      : notifymsg::feishuSign(secret, timestamp),
             sign);
    // Where each service wants it: DingTalk in the URL, percent-encoded as the
    // sample's quote_plus does; Feishu in the body, the seconds as text.
    const NotifyChannel c{
        0,  kind, "x", "https://robot.invalid/send?access_token=t", QString::fromUtf8(secret),
        {}, true};
    const auto r =
        notifymsg::webRequest(c, {{}, "hi", {}}, dingtalk ? timestamp : timestamp * 1000);
    if (dingtalk) {
        QCOMPARE(r.url,
                 "https://robot.invalid/send?access_token=t&timestamp=1577262236757"
                 "&sign=hmPWwU%2B7lVdm3ZZz0r9tSfx0L4Q26jWOZr9%2BGs6EZQM%3D");
    } else {
        QCOMPARE(json(r.body).value("timestamp").toString(), "1599360473");
        QCOMPARE(json(r.body).value("sign").toString().toLatin1(), sign);
    }
}

void TestNotify::messages() {
    const NotifyEvent start{1, 10, 3, "冷库", "温度过低", "开始", -4.1, "2026-12-07 05:10:42"};
    const NotifyEvent noReply{2, 11, 5, "", "无应答", "开始", std::nullopt, "2026-12-07 05:11:00"};
    NotifyEvent humid{3, 12, 5, "", "湿度过高", "结束", 80.5, "2026-12-07 05:12:00"};
    humid.reminder = true;
    int used = 0;
    QCOMPARE(notifymsg::compose({start}, &used).text,
             "【温湿度报警】模块3（冷库）温度过低 -4.1℃ 开始 2026-12-07 05:10:42");
    const OutMessage three = notifymsg::compose({start, noReply, humid}, &used);
    QCOMPARE(used, 3);
    QCOMPARE(three.text,
             "【温湿度报警】3条：\n"
             "模块3（冷库）温度过低 -4.1℃ 开始 2026-12-07 05:10:42\n"
             "模块5 无应答 开始 2026-12-07 05:11:00\n"
             "模块5 湿度过高 仍在报警（始于 2026-12-07 05:12:00）");
    // The webhook's object: the newest event on top, all of them in "events".
    const QJsonObject hook = json(three.webhook);
    QCOMPARE(hook.value("adr").toInt(), 5);
    QCOMPARE(hook.value("unit").toString(), "%RH");
    QCOMPARE(hook.value("text").toString(), three.text);
    const QJsonArray events = hook.value("events").toArray();
    QCOMPARE(events.size(), 3);
    QCOMPARE(events[0].toObject().value("value").toDouble(), -4.1);
    QVERIFY(events[1].toObject().value("value").isNull());
    QCOMPARE(events[2].toObject().value("reminder").toBool(), true);
    // A long backlog goes out 20 events at a time.
    notifymsg::compose(QList<NotifyEvent>(25, start), &used);
    QCOMPARE(used, notifymsg::kMaxEvents);
}

void TestNotify::answers_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("delivered");
    QTest::addColumn<QString>("text");
    QTest::newRow("wecom ok") << "wecom" << 200 << QByteArray(R"({"errcode":0,"errmsg":"ok"})")
                              << true << "errcode 0（ok）";
    QTest::newRow("dingtalk refused")
        << "dingtalk" << 200 << QByteArray(R"({"errcode":310000,"errmsg":"sign not match"})")
        << false << "errcode 310000（sign not match）";
    QTest::newRow("feishu ok") << "feishu" << 200 << QByteArray(R"({"code":0,"msg":"success"})")
                               << true << "code 0（success）";
    QTest::newRow("feishu without code") << "feishu" << 200 << QByteArray(R"({"errcode":0})")
                                         << false << "答复无法识别：{\"errcode\":0}";
    QTest::newRow("robot http 500")
        << "wecom" << 500 << QByteArray(R"({"errcode":0})") << false << "HTTP 500";
    QTest::newRow("robot not json")
        << "wecom" << 200 << QByteArray("<html>") << false << "答复无法识别：<html>";
    QTest::newRow("webhook 204") << "webhook" << 204 << QByteArray() << true << "HTTP 204";
    QTest::newRow("webhook 404") << "webhook" << 404 << QByteArray() << false << "HTTP 404";
}

void TestNotify::answers() {
    QFETCH(QString, kind);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    const notifymsg::Answer a = notifymsg::judge(kind, status, body);
    QTEST(a.delivered, "delivered");
    QTEST(a.text, "text");
}

void TestNotify::queueWithEachAlarm() {
    Site site;
    RecordWriter writer;
    QVERIFY(writer.open(site.db.path()));
    auto store = [&](int count) {
        QList<PendingWrite> writes;
        for (int i = 0; i < count; ++i) {
            const QString s =
                schema::createAlarmLogTable() + QStringLiteral("; ") +
                sql::insertAlarmLog(3, "2026-12-07 05:10:42", "温度过低", -4.1, "开始") +
                QStringLiteral("; ") + notify::queueForLastAlarm();
            writes.append({s, s, RecordWriter::steadyMs(), true});
        }
        writer.submit(writes);
        return writer.flush(kWait);
    };
    // Before any channel exists the tables come, with nothing queued.
    QVERIFY(store(1));
    QCOMPARE(site.db.scalar("select count(*) from notifylog").toInt(), 0);
    const qint64 a = site.channel("webhook", "http://127.0.0.1:1/a");
    NotifyChannel off{0, "webhook", "off", "http://127.0.0.1:1/b", {}, {}, false};
    notifychannel::save(site.conn, &off);
    const qint64 c = site.channel("wecom", "http://127.0.0.1:1/c");
    // Two alarms in one transaction: each row points at its own alarm.
    QVERIFY(store(2));
    const auto rows =
        site.db.rows("select alarm, channel, state, tries from notifylog order by id");
    const QList<QVariantList> expected{
        {2, a, "等待", 0}, {2, c, "等待", 0}, {3, a, "等待", 0}, {3, c, "等待", 0}};
    QCOMPARE(rows.size(), expected.size());
    for (int i = 0; i < rows.size(); ++i) QCOMPARE(rows[i], expected[i]);
}

void TestNotify::onePerChannelThenGrouped() {
    RobotServer http, https(true);
    QVERIFY2(http.listen() && https.listen(), qPrintable(http.errorString() + https.errorString()));
    SmtpServer plain(SmtpServer::Security::Plain),
        secure(SmtpServer::Security::StartTls, "alarm", "pa'ss");
    QVERIFY2(plain.start(), qPrintable(plain.errorString()));
    QVERIFY2(secure.start(), qPrintable(secure.errorString()));
    Site site;
    site.db.addModule(3, "冷库");
    site.channel("wecom", http.url("/wecom?key=k"));
    site.channel("dingtalk", http.url("/dingtalk?access_token=t"), "SECret");
    site.channel("feishu", http.url("/feishu/hook"), "fs");
    site.channel("webhook", https.url("/webhook"), {},
                 QStringLiteral(R"({"cafile":"%1"})").arg(https.caFile()));
    site.channel("email", QStringLiteral("smtp://127.0.0.1:%1").arg(plain.port()), {},
                 R"({"from":"QX7 <daq@site.example>","to":["a@site.example","b@site.example"]})");
    site.channel("email", QStringLiteral("smtp://127.0.0.1:%1").arg(secure.port()), "pa'ss",
                 QStringLiteral(R"({"from":"daq@site.example","to":["a@site.example"],)"
                                R"("username":"alarm","starttls":true,"cafile":"%1"})")
                     .arg(secure.caFile()));
    QVERIFY(site.notifier.start());
    site.alarm(3, "温度过低", -4.1, "开始");
    QVERIFY(site.step(0));
    const QString line = "模块3（冷库）温度过低 -4.1℃ 开始 " + recordTimeText(site.clock.now());
    QCOMPARE(site.log(), QStringList(6, "已发送/1/"));
    QCOMPARE(http.requests.size(), 3);
    QCOMPARE(robotText(to(http, "/wecom").value(0)), "【温湿度报警】" + line);
    // The signed robots: the signature belongs to the timestamp sent with it.
    const QUrlQuery query(QUrl::fromEncoded("http://x" + to(http, "/dingtalk").value(0).target));
    QCOMPARE(query.queryItemValue("sign", QUrl::FullyDecoded).toLatin1(),
             notifymsg::dingtalkSign("SECret", query.queryItemValue("timestamp").toLongLong()));
    const QJsonObject feishu = json(to(http, "/feishu").value(0).body);
    QCOMPARE(feishu.value("sign").toString().toLatin1(),
             notifymsg::feishuSign("fs", feishu.value("timestamp").toString().toLongLong()));
    QCOMPARE(json(https.requests.value(0).body).value("value").toDouble(), -4.1);
    QCOMPARE(plain.mails().size(), 1);
    QVERIFY(plain.mails()[0].contains("X-Envelope-To: a@site.example,b@site.example"));
    QCOMPARE(secure.mails().size(), 1);
    const QByteArray mail = secure.mails()[0];
    QVERIFY(QString::fromUtf8(QByteArray::fromBase64(mail.mid(mail.indexOf("\r\n\r\n") + 4)))
                .contains(line));

    // Three more within 10 s: nothing before the 10 s are up, then one
    // message per channel with all three.
    QVERIFY(site.step(2000));
    site.alarm(3, "温度过低", -3.4, "结束");
    site.alarm(5, "无应答", std::nullopt, "开始");
    site.alarm(3, "湿度过高", 91, "开始");
    QVERIFY(site.step(7000));
    QCOMPARE(http.requests.size() + https.requests.size() + plain.mails().size(), 5);
    QVERIFY(site.step(1000));
    QCOMPARE(site.log().count("已发送/1/"), 24);
    QCOMPARE(http.requests.size(), 6);
    QCOMPARE(https.requests.size(), 2);
    QCOMPARE(json(https.requests[1].body).value("events").toArray().size(), 3);
    QVERIFY(robotText(to(http, "/wecom").value(1))
                .startsWith("【温湿度报警】3条：\n模块3（冷库）温度过低 -3.4℃ 结束"));
    QCOMPARE(plain.mails().size() + secure.mails().size(), 4);
}

void TestNotify::outage() {
    RobotServer hook;
    QVERIFY(hook.listen());
    const quint16 port = hook.port();
    hook.close();
    Site site;
    site.channel("webhook", hook.url("/webhook"));
    QVERIFY(site.notifier.start());
    site.alarm(1, "温度过高", 41, "开始");
    // Down: tried at once, then after 10, 20 and 40 s (each pause one
    // second short first).
    for (const qint64 ms : {0, 9000, 1000, 19000, 1000, 39000, 1000}) QVERIFY(site.step(ms));
    QCOMPARE(site.log().size(), 1);
    QVERIFY(site.log()[0].startsWith("等待/4/"));
    QVERIFY2(site.lines.last().endsWith("80秒后再试"), qPrintable(site.lines.join("\n")));
    // Back: the message arrives once, and only once.
    QVERIFY(hook.listen(port));
    QVERIFY(site.step(80000));
    QCOMPARE(site.log(), QStringList{"已发送/5/"});
    for (int i = 0; i < 3; ++i) QVERIFY(site.step(600000));
    QCOMPARE(hook.requests.size(), 1);
}

void TestNotify::errorAnswers_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<RobotServer::Answer>("answer");
    QTest::addColumn<QString>("error");
    QTest::newRow("errcode") << "wecom" << RobotServer::Answer::ErrorCode
                             << "errcode 310000（keywords not in content）";
    QTest::newRow("feishu code") << "feishu" << RobotServer::Answer::ErrorCode
                                 << "code 19021（sign match fail）";
    QTest::newRow("http 500") << "dingtalk" << RobotServer::Answer::ServerError << "HTTP 500";
    QTest::newRow("no answer") << "wecom" << RobotServer::Answer::Silent << "Operation timed out";
}

void TestNotify::errorAnswers() {
    QFETCH(QString, kind);
    QFETCH(RobotServer::Answer, answer);
    QFETCH(QString, error);
    RobotServer robot;
    QVERIFY(robot.listen());
    robot.answer = answer;
    Site site;
    site.channel(kind, robot.url("/" + kind));
    QVERIFY(site.notifier.start());
    site.alarm(1, "湿度过低", 10, "开始");
    QVERIFY(site.step(0));
    QCOMPARE(site.log().size(), 1);
    QVERIFY2(site.log()[0].startsWith("等待/1/" + error), qPrintable(site.log()[0]));
    robot.answer = RobotServer::Answer::Success;
    QVERIFY(site.step(10000));
    QCOMPARE(site.log(), QStringList{"已发送/2/"});
    QCOMPARE(robot.requests.size(), 2);
}

void TestNotify::giveUpAfterADay() {
    RobotServer hook;
    QVERIFY(hook.listen());
    hook.answer = RobotServer::Answer::ServerError;
    Site site;
    site.channel("webhook", hook.url("/webhook"));
    NotifyChannel off{0, "webhook", "off", hook.url("/off"), {}, {}, true};
    notifychannel::save(site.conn, &off);
    site.alarm(2, "温度过低", 1, "开始");
    off.enabled = false;
    notifychannel::save(site.conn, &off);
    QVERIFY(site.notifier.start());
    QVERIFY(site.step(0));
    QVERIFY(site.step(Notifier::kGiveUpMs + 5000));
    QCOMPARE(site.log(), (QStringList{"失败/1/HTTP 500", "失败/0/渠道已停用"}));
    QCOMPARE(site.lines.filter("通知已放弃").size(), 2);
    QCOMPARE(hook.requests.size(), 1);
}

void TestNotify::restart() {
    RobotServer hook;
    QVERIFY(hook.listen());
    hook.answer = RobotServer::Answer::Silent;
    Site site;
    site.channel("webhook", hook.url("/webhook"));
    QVERIFY(site.notifier.start());
    site.alarm(4, "无应答", std::nullopt, "开始");
    site.notifier.tick();
    QTRY_COMPARE(hook.requests.size(), 1);
    // Stopped while the message was under way: it waits, and so does what
    // comes while no notifier runs; the next one sends both.
    site.notifier.stop();
    site.alarm(4, "无应答", std::nullopt, "结束");
    QCOMPARE(site.log(), QStringList(2, "等待/0/"));
    hook.answer = RobotServer::Answer::Success;
    Notifier next(site.db.path(), site.clock);
    QVERIFY(next.start());
    QTRY_COMPARE(site.log(), QStringList(2, "已发送/1/"));
    QCOMPARE(hook.requests.size(), 2);
    QCOMPARE(json(hook.requests[1].body).value("events").toArray().size(), 2);
}

void TestNotify::reminders() {
    RobotServer hook;
    QVERIFY(hook.listen());
    Site site;
    site.channel("webhook", hook.url("/webhook"), {}, R"({"repeat_minutes":1})");
    QVERIFY(site.notifier.start());
    site.alarm(6, "温度过高", 45, "开始");
    QVERIFY(site.step(0));
    QVERIFY(site.step(30000));
    QCOMPARE(hook.requests.size(), 1);
    QVERIFY(site.step(31000));
    QCOMPARE(hook.requests.size(), 2);
    QVERIFY(json(hook.requests[1].body).value("text").toString().contains("仍在报警"));
    site.alarm(6, "温度过高", 40, "结束");
    QVERIFY(site.step(10000));
    for (int i = 0; i < 2; ++i) QVERIFY(site.step(61000));
    QCOMPARE(hook.requests.size(), 3);
    QCOMPARE(json(hook.requests[2].body).value("state").toString(), "结束");
}

QTEST_GUILESS_MAIN(TestNotify)
#include "tst_notify.moc"
