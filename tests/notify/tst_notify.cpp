// Alarm notifications: the signatures against the services' documented
// samples, the messages, the queue
// that the record writer fills with each alarm, and the notifier against
// real local servers (robots and a webhook over HTTP and HTTPS, SMTP plain
// and with STARTTLS): one message per channel, grouping, an outage, error
// answers, the 24 h give-up, a restart and reminders.
#include "notify/Notifier.h"
#include "notify/NotifyMessage.h"
#include "notify/NotifyStatements.h"
#include "store/Clock.h"
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

namespace {
constexpr int kWait = 15000;

QJsonObject json(const QByteArray &body) {
    return QJsonDocument::fromJson(body).object();
}

// The body of the first request to a path starting with `path`, from the `n`th on.
QJsonObject to(const NotifyServer &server, const QByteArray &path, int n = 0) {
    for (const NotifyServer::Request &r : server.requests()) {
        if (r.target.startsWith(path) && n-- == 0)
            return json(r.body);
    }
    return {};
}

QString robotText(const QJsonObject &body) {
    return body.value("text").toObject().value("content").toString();
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
                   const QString &options = {}, bool enabled = true) {
        NotifyChannel c{0, kind, kind, target, secret, options, enabled};
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
    // "state/tries/error" of every notifylog row, in order.
    QStringList log() {
        QStringList out;
        for (const QVariantList &r :
             db.rows("select state, tries, error from notifylog order by id"))
            out << r[0].toString() + '/' + r[1].toString() + '/' + r[2].toString();
        return out;
    }
};
}  // namespace

class TestNotify : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void signing_data() {
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

    void signing() {
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

    void messages() {
        const NotifyEvent start{1, 10, 3, "冷库", "温度过低", "开始", -4.1, "2026-12-07 05:10:42"};
        const NotifyEvent noReply{
            2, 11, 5, "", "无应答", "开始", std::nullopt, "2026-12-07 05:11:00"};
        NotifyEvent humid{3, 12, 5, "", "湿度过高", "结束", 80.5, "2026-12-07 05:12:00"};
        humid.reminder = true;
        int used = 0;
        const OutMessage three = notifymsg::compose({start, noReply, humid}, &used);
        QCOMPARE(used, 3);
        QCOMPARE(three.text,
                 "【温湿度报警】3条：\n"
                 "模块3（冷库）温度过低 -4.1℃ 开始 2026-12-07 05:10:42\n"
                 "模块5 无应答 开始 2026-12-07 05:11:00\n"
                 "模块5 湿度过高 仍在报警（始于 2026-12-07 05:12:00）");
        // The webhook's object: the newest event on top, all of them in "events".
        const QJsonObject hook = json(three.webhook);
        QCOMPARE(hook.value("unit").toString(), "%RH");
        QVERIFY(hook.value("events").toArray()[1].toObject().value("value").isNull());
        // A long backlog goes out 20 events at a time.
        notifymsg::compose(QList<NotifyEvent>(25, start), &used);
        QCOMPARE(used, notifymsg::kMaxEvents);
    }

    void queueWithEachAlarm() {
        Site site;
        RecordWriter writer(Clock::system());
        QVERIFY(writer.open(site.db.path()));
        auto store = [&](int count) {
            const QString s =
                schema::createAlarmLogTable() + QStringLiteral("; ") +
                sql::insertAlarmLog(3, "2026-12-07 05:10:42", "温度过低", -4.1, "开始") +
                QStringLiteral("; ") + notify::queueForLastAlarm();
            writer.submit(
                QList<PendingWrite>(count, {s, s, QString(), Clock::system().steadyMs(), true}));
            return writer.flush(kWait);
        };
        // Before any channel exists the tables come, with nothing queued.
        QVERIFY(store(1));
        QCOMPARE(site.db.scalar("select count(*) from notifylog").toInt(), 0);
        const qint64 a = site.channel("webhook", "http://127.0.0.1:1/a");
        site.channel("webhook", "http://127.0.0.1:1/b", {}, {}, false);
        const qint64 c = site.channel("wecom", "http://127.0.0.1:1/c");
        // Two alarms in one transaction: each row points at its own alarm.
        QVERIFY(store(2));
        QCOMPARE(site.db.rows("select alarm, channel, state, tries from notifylog order by id"),
                 (QList<QVariantList>{
                     {2, a, "等待", 0}, {2, c, "等待", 0}, {3, a, "等待", 0}, {3, c, "等待", 0}}));
    }

    void onePerChannelThenGrouped() {
        NotifyServer http(NotifyServer::Kind::Http), https(NotifyServer::Kind::Https),
            plain(NotifyServer::Kind::Smtp),
            secure(NotifyServer::Kind::SmtpStartTls, "alarm", "pa'ss");
        for (NotifyServer *s : {&http, &https, &plain, &secure})
            QVERIFY2(s->start(), qPrintable(s->errorString()));
        Site site;
        site.db.addModule(3, "冷库");
        site.channel("wecom", http.url("/wecom?key=k"));
        site.channel("dingtalk", http.url("/dingtalk?access_token=t"), "SECret");
        site.channel("feishu", http.url("/feishu/hook"), "fs");
        site.channel("webhook", https.url("/webhook"), {},
                     QStringLiteral(R"({"cafile":"%1"})").arg(https.caFile()));
        site.channel(
            "email", plain.url(), {},
            R"({"from":"QX7 <daq@site.example>","to":["a@site.example","b@site.example"]})");
        site.channel("email", secure.url(), "pa'ss",
                     QStringLiteral(R"({"from":"daq@site.example","to":["a@site.example"],)"
                                    R"("username":"alarm","starttls":true,"cafile":"%1"})")
                         .arg(secure.caFile()));
        QVERIFY(site.notifier.start());
        site.alarm(3, "温度过低", -4.1, "开始");
        QVERIFY(site.step(0));
        const QString line = "模块3（冷库）温度过低 -4.1℃ 开始 " + recordTimeText(site.clock.now());
        QCOMPARE(site.log(), QStringList(6, "已发送/1/"));
        QCOMPARE(http.requests().size(), 3);
        QCOMPARE(robotText(to(http, "/wecom")), "【温湿度报警】" + line);
        // (Where the signed robots' signatures go is seen in signing().)
        QCOMPARE(to(https, "/webhook").value("value").toDouble(), -4.1);
        QCOMPARE(plain.mails().size(), 1);
        QVERIFY(plain.mails()[0].contains("X-Envelope-To: a@site.example,b@site.example"));
        const QByteArray mail = secure.mails().value(0);
        QVERIFY(QString::fromUtf8(QByteArray::fromBase64(mail.mid(mail.indexOf("\r\n\r\n") + 4)))
                    .contains(line));

        // Three more within 10 s: nothing before the 10 s are up, then one
        // message per channel with all three.
        QVERIFY(site.step(2000));
        site.alarm(3, "温度过低", -3.4, "结束");
        site.alarm(5, "无应答", std::nullopt, "开始");
        site.alarm(3, "湿度过高", 91, "开始");
        QVERIFY(site.step(7000));
        QCOMPARE(http.requests().size() + https.requests().size() + plain.mails().size(), 5);
        QVERIFY(site.step(1000));
        QCOMPARE(site.log().count("已发送/1/"), 24);
        QCOMPARE(http.requests().size() + https.requests().size(), 8);
        QCOMPARE(plain.mails().size() + secure.mails().size(), 4);
        QCOMPARE(to(https, "/webhook", 1).value("events").toArray().size(), 3);
        QVERIFY(robotText(to(http, "/wecom", 1))
                    .startsWith("【温湿度报警】3条：\n模块3（冷库）温度过低 -3.4℃ 结束"));
    }

    void outage() {
        NotifyServer hook(NotifyServer::Kind::Http);
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
        // Back: the message arrives once, and only once; not while a backup
        // holds the notifier, right after.
        QVERIFY2(hook.start(), qPrintable(hook.errorString()));
        site.notifier.suspend();
        site.clock.advance(80000);
        site.notifier.tick();
        QVERIFY(!site.notifier.isIdle());
        QVERIFY(site.log()[0].startsWith("等待/4/"));
        site.notifier.resume();
        QVERIFY(site.step(0));
        QCOMPARE(site.log(), QStringList{"已发送/5/"});
        for (int i = 0; i < 3; ++i) QVERIFY(site.step(600000));
        QCOMPARE(hook.requests().size(), 1);
    }

    void errorAnswers_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("error");
        QTest::newRow("errcode") << "wecom" << QByteArray("errcode")
                                 << "errcode 310000（keywords not in content）";
        QTest::newRow("feishu code")
            << "feishu" << QByteArray("errcode") << "code 19021（sign match fail）";
        QTest::newRow("http 500") << "dingtalk" << QByteArray("500") << "HTTP 500";
        QTest::newRow("no answer") << "wecom" << QByteArray("silent") << "Operation timed out";
    }

    void errorAnswers() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, answer);
        QFETCH(QString, error);
        NotifyServer robot(NotifyServer::Kind::Http);
        QVERIFY2(robot.start(), qPrintable(robot.errorString()));
        robot.answer(answer.constData());
        Site site;
        site.channel(kind, robot.url("/" + kind));
        QVERIFY(site.notifier.start());
        site.alarm(1, "湿度过低", 10, "开始");
        QVERIFY(site.step(0));
        QCOMPARE(site.log().size(), 1);
        QVERIFY2(site.log()[0].startsWith("等待/1/" + error), qPrintable(site.log()[0]));
        robot.answer("success");
        QVERIFY(site.step(10000));
        QCOMPARE(site.log(), QStringList{"已发送/2/"});
        QCOMPARE(robot.requests().size(), 2);
    }

    void giveUpAfterADay() {
        NotifyServer hook(NotifyServer::Kind::Http);
        QVERIFY2(hook.start(), qPrintable(hook.errorString()));
        hook.answer("500");
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
        QCOMPARE(hook.requests().size(), 1);
    }

    void restart() {
        NotifyServer hook(NotifyServer::Kind::Http);
        QVERIFY2(hook.start(), qPrintable(hook.errorString()));
        hook.answer("silent");
        Site site;
        site.channel("webhook", hook.url("/webhook"));
        QVERIFY(site.notifier.start());
        site.alarm(4, "无应答", std::nullopt, "开始");
        site.notifier.tick();
        QTRY_COMPARE(hook.requests().size(), 1);
        // Stopped while the message was under way: it waits, and so does what
        // comes while no notifier runs; the next one sends both.
        site.notifier.stop();
        site.alarm(4, "无应答", std::nullopt, "结束");
        QCOMPARE(site.log(), QStringList(2, "等待/0/"));
        hook.answer("success");
        Notifier next(site.db.path(), site.clock);
        QVERIFY(next.start());
        QTRY_COMPARE(site.log(), QStringList(2, "已发送/1/"));
        QCOMPARE(hook.requests().size(), 2);
        QCOMPARE(to(hook, "/webhook", 1).value("events").toArray().size(), 2);
    }

    void reminders() {
        NotifyServer hook(NotifyServer::Kind::Http);
        QVERIFY2(hook.start(), qPrintable(hook.errorString()));
        Site site;
        site.channel("webhook", hook.url("/webhook"), {}, R"({"repeat_minutes":1})");
        QVERIFY(site.notifier.start());
        site.alarm(6, "温度过高", 45, "开始");
        QVERIFY(site.step(0));
        QVERIFY(site.step(30000));
        QCOMPARE(hook.requests().size(), 1);
        QVERIFY(site.step(31000));
        QVERIFY(to(hook, "/webhook", 1).value("text").toString().contains("仍在报警"));
        site.alarm(6, "温度过高", 40, "结束");
        QVERIFY(site.step(10000));
        for (int i = 0; i < 2; ++i) QVERIFY(site.step(61000));
        QCOMPARE(hook.requests().size(), 3);
        QCOMPARE(to(hook, "/webhook", 2).value("state").toString(), "结束");
    }
};

QTEST_GUILESS_MAIN(TestNotify)
#include "tst_notify.moc"
