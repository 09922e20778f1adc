// The window 报警记录: the alarm log under 数据库, its filters (the record
// list's checks and conditions), its quick periods and its CSV export.
#include "alarms/AlarmLog.h"
#include "alarms/ui/AlarmLogWindow.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "support/AppFixture.h"
#include "support/FakeClock.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <map>

namespace {
// The rows listed once the window's pass has ended, the first five cells of each.
QStringList listed(const AlarmLogWindow *w) {
    if (!QTest::qWaitFor([w] { return !w->isBusy(); }, 10000))
        return {"busy"};
    QStringList out;
    for (qint64 row = 0; row < w->model()->totalRows(); ++row)
        out << w->model()->rowAt(row)->cells().mid(0, 5).join(u' ');
    return out;
}
}  // namespace

class TestAlarmLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statements() {
        AlarmLogFilter f{true, " 3 ", true, "2024-03-05 00:00:00", " 2024-03-05 23:59:59 "};
        QCOMPARE(alarmlog::check(f), QString());
        QCOMPARE(alarmlog::statement(f),
                 "select * from alarmlog where id<>0 AND adr = 3 AND datetime(mydate) >= "
                 "'2024-03-05 00:00:00' AND datetime(mydate) <= '2024-03-05 23:59:59' order by id");
        // A bad address: the window's test (and the record query's, which shares the check).
        f.to = "2024-03-05\n";
        QVERIFY(alarmlog::check(f).contains("“到”"));
        f.byPeriod = false;  // a filter that is off is not checked
        QCOMPARE(alarmlog::check(f), QString());
    }

    // How the messages of an alarm went out, from the states of its channels: the state alone
    // when they agree, otherwise each state with its count. States are "state:channels".
    void notifySummary_data() {
        QTest::addColumn<QString>("states");
        QTest::addColumn<QString>("shown");
        const std::pair<const char *, const char *> rows[] = {
            {"已发送:1", "已发送"},
            {"等待:3", "等待"},
            {"失败:1 已发送:2", "已发送2，失败1"},
            {"失败:1 等待:1 已发送:1", "已发送1，等待1，失败1"},
            {"已发送:1 重试:1", "已发送1，重试1"}};
        for (const auto &[states, shown] : rows)
            QTest::newRow(states) << QString(states) << QString(shown);
    }
    void notifySummary() {
        QFETCH(QString, states);
        QFETCH(QString, shown);
        std::map<QString, int> channels;
        for (const QString &s : states.split(' '))
            channels[s.section(':', 0, 0)] = s.section(':', 1).toInt();
        QCOMPARE(alarmlog::notifySummary(channels), shown);
    }

    // Opened beside the working windows; a file without the log shows an empty one and
    // stays without it. Then the filters and the export.
    void windowFiltersAndExport() {
        AppFixture app;
        app.menu("board");
        app.menu("alarmlog");
        auto *fromMenu = app.find<AlarmLogWindow>("AlarmLog");
        QVERIFY(fromMenu && fromMenu->isVisible() && app.find("module"));
        app.menu("alarmlog");
        QCOMPARE(app.find<AlarmLogWindow>("AlarmLog"), fromMenu);
        delete fromMenu;
        // Opened at 2024-03-05 10:00 in the records' time.
        const FakeClock clock(QDateTime(QDate(2024, 3, 5), QTime(2, 0), Qt::UTC));
        auto *w = new AlarmLogWindow(&app.services().db(), clock, app.frame());
        QAbstractItemModelTester tester(w->model());
        QCOMPARE(listed(w), QStringList());
        QCOMPARE(app.find<QLabel>("total")->text(), "合计：0条报警记录");
        QVERIFY(app.boxes.shown.isEmpty());
        QCOMPARE(app.db().scalar("select count(*) from sqlite_master where name='alarmlog'"), 0);

        app.db().exec(schema::createAlarmLogTable());
        app.db().exec(sql::insertAlarmLog(3, "2024-03-04 23:00:00", "温度过低", -4.1, "开始"));
        app.db().exec(sql::insertAlarmLog(3, "2024-03-05 01:00:00", "温度过低", -3.5, "结束"));
        app.db().exec(sql::insertAlarmLog(5, "2024-03-05 09:00:00", "无应答", {}, "开始"));
        app.db().exec(sql::insertAlarmLog(1, "2024-03-01 08:00:00", "湿度过高", 80.5, "开始"));
        app.find<QPushButton>("refresh")->click();
        QCOMPARE(listed(w), (QStringList{"3 2024-03-04 23:00:00 温度过低 -4.1 开始",
                                         "3 2024-03-05 01:00:00 温度过低 -3.5 结束",
                                         "5 2024-03-05 09:00:00 无应答  开始",
                                         "1 2024-03-01 08:00:00 湿度过高 80.5 开始"}));
        QVERIFY(w->model()->index(0, 0).data(Qt::ForegroundRole).isValid());  // a start
        QVERIFY(!w->model()->index(1, 0).data(Qt::ForegroundRole).isValid());

        // The period defaults to today (the evening before and the 1st fall outside); ticked,
        // it limits the list.
        app.find<QCheckBox>("onlyPeriod")->click();
        QCOMPARE(listed(w).size(), 2);
        app.find<QLineEdit>("moduleBox")->setText("5");
        app.find<QCheckBox>("onlyModule")->click();
        QCOMPARE(listed(w), QStringList{"5 2024-03-05 09:00:00 无应答  开始"});
        QCOMPARE(app.find<QLabel>("total")->text(), "合计：1条报警记录");

        // A refused text is said, its filter is not ticked, the list stays.
        app.find<QCheckBox>("onlyModule")->click();
        app.find<QLineEdit>("moduleBox")->setText("x");
        app.find<QCheckBox>("onlyModule")->click();
        QCOMPARE(app.boxes.texts(), QStringList{"“只看模块”的模块地址“x”无效，请输入一个整数。"});
        QVERIFY(!app.find<QCheckBox>("onlyModule")->isChecked());
        QCOMPARE(listed(w).size(), 2);

        // 本月 puts the month's period and ticks it.
        app.find<QPushButton>("thisMonth")->click();
        QCOMPARE(app.find<QLineEdit>("toBox")->text(), "2024-03-31 23:59:59");
        QCOMPARE(listed(w).size(), 4);
        app.find<QPushButton>("today")->click();
        QCOMPARE(listed(w).size(), 2);

        // A row logged since shows after 更新, and so do the messages that went out (the table
        // the notifier keeps, one row per alarm and channel); the export holds what is listed.
        app.db().exec(sql::insertAlarmLog(5, "2024-03-05 09:30:00", "无应答", {}, "结束"));
        app.db().exec(
            "create table notifylog (id INTEGER PRIMARY KEY AUTOINCREMENT, alarm INTEGER, channel "
            "INTEGER, mydate TEXT, state TEXT, tries INTEGER, error TEXT); insert into notifylog "
            "(alarm, channel, state) values (2, 1, '已发送'), (2, 2, '已发送'), (3, 1, '已发送'), "
            "(3, 2, '失败'), (3, 3, '已发送'), (1, 1, '等待')");
        app.find<QPushButton>("refresh")->click();
        QCOMPARE(listed(w).size(), 3);
        QCOMPARE(w->model()->cell(1, 5), "已发送2，失败1");
        QTemporaryDir dir;
        QVERIFY(w->exportCsv(dir.filePath("alarms.csv")));
        QVERIFY(QTest::qWaitFor([w] { return !w->isBusy(); }, 10000));
        QCOMPARE(app.boxes.texts().last(), "已导出3条报警记录。");
        QFile f(dir.filePath("alarms.csv"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("\xEF\xBB\xBF"
                                         "地址,时间,报警类型,数值,状态,通知\r\n"
                                         "3,2024-03-05 01:00:00,温度过低,-3.5,结束,已发送\r\n"
                                         "5,2024-03-05 09:00:00,无应答,,开始,已发送2，失败1\r\n"
                                         "5,2024-03-05 09:30:00,无应答,,结束,\r\n"));
    }
};

QTEST_MAIN(TestAlarmLog)
#include "tst_alarmlog.moc"
