// The logger qx7logger end to end: the real executable as a child process,
// the simulator on a pseudo-terminal as its port 1, local HTTP servers as
// the notification channels, and the desktop program (the frame on a real
// serial port) on the same data folder beside it.
#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "bus/BusLink.h"
#include "bus/SerialPort.h"
#include "notify/NotifyChannel.h"
#include "records/BackgroundPass.h"
#include "records/Maintenance.h"
#include "store/PendingRecords.h"
#include "store/Schema.h"
#include "support/AppFixture.h"
#include "support/LoggerProcess.h"
#include "support/NotifyServers.h"
#include "support/SimProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

namespace {
constexpr int kWait = 20000;
const QString kPollOf2 = QStringLiteral("tty 02 04 00 00 00 02");
const QString kPollOf1 = QStringLiteral("tty 01 04 00 00 00 02");

// Modules 1 to 3 recorded every second; module 3 watched, with -4 °C as its
// lower limit (the simulator holds it at -5).
QString siteSql() {
    return QStringLiteral("update dbQx7 set scan=1; update dbQx7 set alarm='是' where adr='3'; ") +
           schema::createAlarmLimitTable() +
           QStringLiteral("; insert into alarmlimit (adr, tlow) values ('3', -4)");
}

qint64 channel(LiteConnection &db, const QString &kind, const QString &url) {
    NotifyChannel c{0, kind, kind, url, {}, {}, true};
    notifychannel::save(db, &c);
    return c.id;
}

// Every event of every webhook message, as "time state kind".
QStringList webhookEvents(const NotifyServer &server) {
    QStringList out;
    for (const NotifyServer::Request &r : server.requests()) {
        const QJsonArray events =
            QJsonDocument::fromJson(r.body).object().value("events").toArray();
        for (const QJsonValue &e : events) {
            const QJsonObject o = e.toObject();
            out << o.value("time").toString() + " " + o.value("state").toString() + " " +
                       o.value("kind").toString();
        }
    }
    return out;
}

QByteArray fileHash(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

}  // namespace

class TestLogger : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refuses_data() {
        QTest::addColumn<QString>("database");  // none, garbage, a bad port setting, good
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("said");
        QTest::newRow("missing database") << "none" << QStringList() << "无法使用数据库";
        QTest::newRow("not a database") << "garbage" << QStringList() << "无法使用数据库";
        QTest::newRow("bad port setting") << "bad port" << QStringList() << "串口设置无效";
        QTest::newRow("bad period") << "good" << QStringList{"--period", "0"} << "采集周期“0”无效";
    }

    // A logger that cannot run says why in one line and ends with 1, the
    // database as it was (a missing one not made).
    void refuses() {
        QFETCH(QString, database);
        QFETCH(QStringList, args);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = dir.filePath("mydb.db");
        if (database == "garbage") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("not a database at all") > 0);
        } else if (database != "none") {
            LiteConnection conn;
            QVERIFY(conn.Open(path));
            QVERIFY(schema::ensure(conn, nullptr));
            if (database == "bad port")
                QVERIFY(conn.Execute(
                    "update syssetting set mysetting='COM' where myitems='rs232port'"));
        }
        const QByteArray before = fileHash(path);
        LoggerProcess logger(dir.path(), args);
        QCOMPARE(logger.run(), 1);
        const QString line = logger.log().trimmed();
        QVERIFY2(line.startsWith("qx7logger: ") && !line.contains('\n') && line.contains(said),
                 qPrintable(line));
        QCOMPARE(fileHash(path), before);
        QCOMPARE(QFile::exists(path), database != "none");
    }

    // One run of the logger with the desktop program beside it: it records and
    // raises an alarm, which reaches each channel once; a second logger on the
    // folder refuses; an edit of the module list is picked up while it runs;
    // the desktop program touches no port, refuses its port work with a reason
    // and shows the logger's live readings, marks and alarm line; SIGTERM stores
    // everything and ends with 0; then the desktop program takes the port and
    // acquires as usual.
    void acquiresBesideTheDesktop() {
        SimProcess sim(SimProcess::Serial,
                       {"--modules", "1,2,3", "--set", "3:-5:50", "--seed", "3"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        NotifyServer hook(NotifyServer::Kind::Http), robot(NotifyServer::Kind::Http);
        for (NotifyServer *s : {&hook, &robot}) QVERIFY2(s->start(), qPrintable(s->errorString()));
        AppFixture app(new SerialPort());
        for (int a : {1, 2, 3}) app.db().addModule(a);
        app.db().exec(siteSql());
        channel(app.services().db(), "webhook", hook.url("/webhook"));
        channel(app.services().db(), "wecom", robot.url("/wecom?key=k"));

        LoggerProcess logger(app.db().dir(), {"--period", "200"});
        QVERIFY2(logger.start(), qPrintable(logger.log()));
        LoggerProcess second(app.db().dir());
        QCOMPARE(second.run(), 1);
        QVERIFY2(second.log().trimmed().contains(
                     QStringLiteral("已由另一个qx7logger（进程%1）使用").arg(logger.pid())),
                 qPrintable(second.log()));
        QVERIFY(!second.log().trimmed().contains('\n'));

        // The desktop program finds the logger and leaves the port alone.
        QVERIFY(app.services().watchLogger());
        app.frame()->openSavedPort();
        QVERIFY(!app.bus().port()->PortOpen());
        const QString who = QStringLiteral("qx7logger（进程%1）").arg(logger.pid());
        QVERIFY2(app.frame()->statusBar()->currentMessage().startsWith(who + "正在采集"),
                 qPrintable(app.frame()->statusBar()->currentMessage()));

        // The acquisition window: 采集 and 搜索模块 refused with the reason, the
        // logger's readings, counters, alarm mark and line, refreshed.
        app.menu("board");
        auto *w = qobject_cast<ModuleWindow *>(app.find("module"));
        QVERIFY(w);
        w->findChild<QPushButton *>("Command3")->click();
        QVERIFY2(w->statusText().contains(who + "正在采集，串口由它使用，不能在此开始采集"),
                 qPrintable(w->statusText()));
        w->findChild<QPushButton *>("Command5")->click();
        QVERIFY(w->statusText().contains("不能在此搜索模块"));
        QVERIFY(!w->isAcquiring() && !w->isSearching() && !app.bus().isBusy());
        QVERIFY(logger.waitForLog("报警开始：模块3 温度过低 -5℃", kWait));
        QTRY_VERIFY_WITH_TIMEOUT(w->alarmText().contains("模块3 温度过低"), kWait);
        const ModuleListModel &list = *w->modules();
        QTRY_VERIFY_WITH_TIMEOUT(list.isAlarmed(3) && list.at(3).temperature == "-5" &&
                                     list.at(3).humidity == "50" &&
                                     !list.at(1).temperature.isEmpty(),
                                 kWait);
        QVERIFY(!list.isAlarmed(1));
        auto *counters = w->findChild<QLabel *>("Label6");
        const QString counted = counters->text();
        QVERIFY(counted.contains("成功"));
        QTRY_VERIFY_WITH_TIMEOUT(counters->text() != counted, 5000);
        QVERIFY(w->findChild<QLabel *>("Label7")->text() != "0小时0分0秒");

        // The console: its polling and 发送 refused under the button, no box.
        app.menu("sigboard");
        QWidget *console = app.find("Form1");
        QVERIFY(console);
        console->findChild<QPushButton *>("Command30")->click();
        QVERIFY(console->findChild<QLabel *>("pollStatus")->text().contains(who + "正在采集"));
        QCOMPARE(console->findChild<QPushButton *>("Command30")->text(), "开启自动采集");
        console->findChild<QPushButton *>("Command28")->click();
        QVERIFY(console->findChild<QLabel *>("pollStatus")->text().endsWith("命令未发送"));
        QVERIFY(!app.bus().port()->PortOpen());
        QCOMPARE(app.boxes.texts(), QStringList());

        // Module 2 switched off in the database: picked up, no longer polled.
        app.db().exec("update dbQx7 set enorno='否' where adr='2'");
        const qsizetype edited = logger.log().size();
        QVERIFY(logger.waitForLog("模块设置已更新：3个模块", kWait, edited));
        const int polls1 = sim.logCount(kPollOf1);
        QTRY_VERIFY(sim.logCount(kPollOf1) > polls1);
        const int polls2 = sim.logCount(kPollOf2);
        QTRY_VERIFY(sim.logCount(kPollOf1) > polls1 + 3);
        QCOMPARE(sim.logCount(kPollOf2), polls2);

        // Recorded, and one message per channel for the alarm.
        QTRY_VERIFY_WITH_TIMEOUT(hook.requests().size() == 1 && robot.requests().size() == 1,
                                 kWait);
        QCOMPARE(webhookEvents(hook).size(), 1);
        QVERIFY(webhookEvents(hook)[0].endsWith(" 开始 温度过低"));
        const QJsonObject robotBody = QJsonDocument::fromJson(robot.requests()[0].body).object();
        QVERIFY2(robotBody["text"]["content"].toString().contains("模块3（0007）温度过低 -5℃ 开始"),
                 robot.requests()[0].body.constData());
        QVERIFY(app.db()
                    .scalar("select count(*) from th where adr='3' and temp=-5 and hum=50")
                    .toInt() > 0);
        QCOMPARE(app.db().scalar("select count(distinct adr) from th").toInt(), 3);

        // A backup taken while the logger writes is a whole database.
        QVERIFY(QDir(app.db().dir()).mkpath("backup"));
        PassControl control;
        const BackupResult copy =
            backupDatabase(app.db().path(), QDateTime::currentDateTime(), control);
        QCOMPARE(copy.outcome, BackupResult::Done);
        LiteConnection backup;
        QVERIFY(backup.OpenReadOnly(copy.target));
        LiteStatement check = backup.prepare("PRAGMA integrity_check");
        QVERIFY(check.Step() && !check.done());
        QCOMPARE(check.text(0), "ok");

        // SIGTERM: everything queued is stored (the alarm's end too), exit 0.
        QVERIFY(logger.stop());
        QVERIFY(logger.log().contains("已停止，所有记录均已保存"));
        QCOMPARE(app.db().scalar("select state from alarmlog order by id desc limit 1").toString(),
                 "结束");
        QVERIFY(!QFile::exists(pendingrecords::pathFor(app.db().path())));

        // The desktop program takes the port over and acquires as usual.
        QTRY_VERIFY_WITH_TIMEOUT(app.bus().port()->PortOpen(), kWait);
        QVERIFY(app.frame()->statusBar()->currentMessage().startsWith("qx7logger已停止"));
        app.menu("board");
        w = qobject_cast<ModuleWindow *>(app.find("module"));
        QVERIFY(w->alarmText().isEmpty() && !w->modules()->isAlarmed(3));
        QCOMPARE(w->modules()->at(3).temperature, QString());
        w->findChild<QLineEdit *>("Text2")->setText("200");
        w->findChild<QPushButton *>("Command3")->click();
        QVERIFY(w->isAcquiring());
        QTRY_VERIFY_WITH_TIMEOUT(app.services().acquisition().cycle().okCount > 2, kWait);
        QCOMPARE(app.boxes.texts(), QStringList());
    }

    // The alarm's message waits while its server is down and arrives once it is
    // back, exactly once; the end of the alarm, queued at the logger's stop
    // while the server is down again, goes out after the logger's restart.
    void notificationsThroughOutageAndRestart() {
        SimProcess sim(SimProcess::Serial, {"--modules", "3", "--set", "3:-5:50"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        NotifyServer hook(NotifyServer::Kind::Http);
        LiteConnection conn;
        TestDatabase db(conn);
        db.addModule(3);
        db.exec(siteSql());
        channel(conn, "webhook", hook.url("/webhook"));
        auto notifyStates = [&] {
            QStringList out;
            for (const QVariantList &r : db.rows("select state from notifylog order by id"))
                out << r[0].toString();
            return out;
        };

        LoggerProcess logger(db.dir(), {"--period", "200"});
        QVERIFY2(logger.start(), qPrintable(logger.log()));
        QVERIFY(logger.waitForLog("通知未能发出", kWait));
        QCOMPARE(notifyStates(), QStringList{"等待"});
        QVERIFY2(hook.start(), qPrintable(hook.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(notifyStates() == QStringList{"已发送"}, 30000);
        QCOMPARE(hook.requests().size(), 1);

        hook.stop();
        QVERIFY(logger.stop());
        QCOMPARE(notifyStates(), (QStringList{"已发送", "等待"}));
        QVERIFY2(hook.start(), qPrintable(hook.errorString()));
        QVERIFY2(logger.start(), qPrintable(logger.log()));
        QTRY_VERIFY_WITH_TIMEOUT(notifyStates().mid(0, 2) == (QStringList{"已发送", "已发送"}),
                                 kWait);
        QVERIFY(logger.stop());

        // Each alarm row that went out reached the server once.
        QStringList sent;
        for (const QVariantList &r :
             db.rows("select a.mydate || ' ' || a.state || ' ' || a.kind from alarmlog a join "
                     "notifylog n on n.alarm = a.id where n.state = '已发送' order by a.id"))
            sent << r[0].toString();
        QVERIFY(sent.size() >= 2);
        QCOMPARE(webhookEvents(hook), sent);
    }
};

QTEST_MAIN(TestLogger)
#include "tst_logger.moc"
