// The record list, the chart and the maintenance window on a test database:
// opened through the frame's menus, driven through their controls.
#include "records/BackgroundPass.h"
#include "records/RecordModel.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/DbaseWindow.h"
#include "records/ui/GraphWindow.h"
#include "records/ui/RecordListView.h"
#include "support/AppFixture.h"
#include "support/FakeClock.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace {
const QString kBase = QStringLiteral("select * from th where id<>0");

void addDay(TestDatabase &db) {
    db.addRecord(1, "2024-03-05 08:00:00", "20", "40");
    db.addRecord(2, "2024-03-05 09:00:00", "25.5", "45");
    db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
    db.addRecord(2, "2024-03-06 11:00:00", "35", "55");
}
QString lastBox(const AppFixture &app) {
    return app.boxes.shown.isEmpty() ? QString() : app.boxes.shown.last().text;
}

// The program on a database of four records (or none), with the record list open (from
// the menu, or on a clock of the test's).
struct ListApp : AppFixture {
    AnaQx7 *w;
    explicit ListApp(bool withRecords = true, const Clock *clock = nullptr) {
        if (withRecords)
            addDay(db());
        if (clock)
            (w = new AnaQx7(&services().db(), &services().recordQuery(), *clock, frame()))->show();
        else
            menu("analys");
        w = find<AnaQx7>("AnaQx7");
    }
    qint64 listed() const { return w->model()->totalRows(); }
    // Clicks a control of the list and lets the pass end: then how many records are listed.
    qint64 after(const char *control) {
        w->findChild<QAbstractButton *>(QString::fromLatin1(control))->click();
        return QTest::qWaitFor([this] { return !w->isBusy(); }, 10000) ? listed() : -1;
    }
};

// Lets a window's pass end (the event loop runs until it has).
#define SETTLE(w) QVERIFY(QTest::qWaitFor([&] { return !(w)->isBusy(); }, 10000))

// A control of one window (names repeat across windows).
template <class T = QWidget>
T *in(QWidget *window, const char *name) {
    T *t = window->findChild<T *>(QString::fromLatin1(name));
    return t ? t : (qFatal("no control %s in %s", name, qPrintable(window->objectName())), t);
}
QString text(QWidget *window, const char *name) {
    if (auto *edit = window->findChild<QLineEdit *>(QString::fromLatin1(name)))
        return edit->text();
    return in<QLabel>(window, name)->text();
}
void click(QWidget *window, const char *name) {
    in<QAbstractButton>(window, name)->click();
}
void type(QWidget *window, const char *name, const QString &t) {
    in<QLineEdit>(window, name)->setText(t);
}
bool ticked(QWidget *window, const char *name) {
    return in<QCheckBox>(window, name)->isChecked();
}

// The seven statistics labels, in the order of their captions.
QStringList figures(QWidget *w) {
    QStringList out;
    for (const char *name : {"Label3", "Label2", "Label4", "Label5", "Label6", "Label7", "Label8"})
        out << text(w, name);
    return out;
}
// A step of a test through the program: "menu:NAME" runs a menu command, "WINDOW/CONTROL"
// clicks a control of a window, "WINDOW/BOX=TEXT" types into a box.
void run(AppFixture &app, const QString &step) {
    if (step.startsWith("menu:"))
        return app.menu(qPrintable(step.mid(5)));
    QWidget *window = app.find(step.section('/', 0, 0));
    QVERIFY2(window, qPrintable(step));
    const QString control = step.section('/', 1).section('=', 0, 0);
    if (step.contains('='))
        type(window, qPrintable(control), step.section('=', 1));
    else
        click(window, qPrintable(control));
}

const QStringList kBareFigures = {"合计",       "最高温度：", "最低温度：", "平均温度：",
                                  "最高湿度：", "最低湿度：", "平均湿度："};
}  // namespace

class TestRecordsWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listFiltersStatisticsAndExport() {
        ListApp app;
        AnaQx7 *w = app.w;
        QAbstractItemModelTester tester(w->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        SETTLE(w);
        QCOMPARE(app.listed(), 4);
        QCOMPARE(text(w, "Text2") + " " + text(w, "Text3"),
                 QStringLiteral("2024-03-05 08:00:00 2024-03-06 11:00:00"));
        QCOMPARE(figures(w),
                 (QStringList{"合计：4个记录", "最高温度：35", "最低温度：20", "平均温度：27.6",
                              "最高湿度：55", "最低湿度：40", "平均湿度：47.5"}));
        QCOMPARE(app.after("Check1"), 2);  // module 1 alone

        // The period of the first and last listed record, then every module inside it.
        app.after("Check2");
        QCOMPARE(app.after("Check1"), 3);
        QCOMPARE(w->model()->index(1, 2).data().toString(), QStringLiteral("25.5"));
        const QString path = QDir(app.db().dir()).filePath("list.csv");
        QVERIFY(w->exportCsv(path));
        SETTLE(w);
        QCOMPARE(lastBox(app), QStringLiteral("已导出3个记录。"));
        QVERIFY(QFile::exists(path));

        // A bad bound: a message naming the box, nothing else changes.
        app.boxes.clear();
        type(w, "Text4", "3O");
        click(w, "Check3");
        QCOMPARE(app.boxes.shown.size(), 1);
        QVERIFY(lastBox(app).contains("“温度”的上限"));
        QVERIFY(!ticked(w, "Check3") && !w->isBusy());
        QCOMPARE(app.listed(), 3);

        // No record found: count 0, six empty figures, the times kept.
        type(w, "Text1", "9");
        QCOMPARE(app.after("Check1"), 0);
        QCOMPARE(figures(w), QStringList(kBareFigures).replaceInStrings("合计", "合计：0个记录"));
        QCOMPARE(text(w, "Text2") + " " + text(w, "Text3"),
                 QStringLiteral("2024-03-05 08:00:00 2024-03-05 10:00:00"));
    }

    // A cancelled pass never shows its figures: a list that was filling keeps the bare
    // captions, a list of the same query kept its rows and figures, which stay. The export
    // waits for the list.
    void cancelledStatisticsAreNeverFinal() {
        ListApp app;
        AnaQx7 *w = app.w;
        QVERIFY(in(w, "cancel")->isVisibleTo(w) && !in(w, "Command4")->isEnabled());
        SETTLE(w);
        QVERIFY(!in(w, "cancel")->isVisibleTo(w) && in(w, "Command4")->isEnabled());

        app.db().addRecord(1, "2024-03-07 08:00:00", "99", "99");
        click(w, "Check1");  // another query: its list fills as it is counted
        click(w, "cancel");
        QVERIFY(!w->isBusy());
        QCOMPARE(figures(w), kBareFigures);
        QVERIFY(text(w, "statusLine").startsWith(QStringLiteral("已取消")));
        QCoreApplication::processEvents();  // the cancelled pass ends; nothing of it shows
        QCOMPARE(figures(w), kBareFigures);

        app.after("Check1");   // back to every record
        click(w, "Command1");  // the same query again: the list stays until the count is whole
        click(w, "cancel");
        QCOMPARE(figures(w).first(), QStringLiteral("合计：5个记录"));
        QCOMPARE(app.listed(), 5);
    }

    // A Timer1 tick that finds the last refresh still running starts none; a refresh by
    // the operator replaces the running pass. An export runs alone; a tick waits for it,
    // and its cancel leaves no file.
    void refreshDuringAPassAndCancelledExport() {
        ListApp app;
        AnaQx7 *w = app.w;
        BackgroundPass *pass = w->pass();
        const int started = pass->startedCount();
        QVERIFY(w->isBusy());
        QVERIFY(w->LoadGrid1(true));  // what a tick does
        QCOMPARE(pass->startedCount(), started);
        click(w, "Command1");  // 更新
        QCOMPARE(pass->startedCount(), started + 1);
        QVERIFY(text(w, "statusLine").isEmpty());  // replaced, not cancelled
        SETTLE(w);
        QCOMPARE(figures(w).first(), QStringLiteral("合计：4个记录"));
        app.db().addRecord(1, "2024-03-07 08:00:00", "20", "40");
        QVERIFY(w->LoadGrid1(true));  // nothing running: the tick lists the new record
        QCOMPARE(pass->startedCount(), started + 2);
        SETTLE(w);
        QCOMPARE(app.listed(), 5);

        // Another program holding the file keeps the export from ending before the cancel.
        LiteConnection other;
        QVERIFY(app.db().holdExclusively(other));
        const QString path = QDir(app.db().dir()).filePath("list.csv");
        QVERIFY(w->exportCsv(path));
        QVERIFY(!w->exportCsv(path));
        QVERIFY(w->LoadGrid1(true));
        QCOMPARE(pass->startedCount(), started + 3);
        click(w, "cancel");
        QVERIFY(other.Execute("COMMIT"));
        QVERIFY(text(w, "statusLine").contains(QStringLiteral("导出已取消")));
        QVERIFY(!w->isBusy() && !QFile::exists(path));
    }

    // The list scrolls over every record with its own bar, reading only the pages shown; the
    // keys and the selection count in records of the whole list.
    void scrollingAManyRecordList() {
        ListApp app(false);
        AnaQx7 *w = app.w;
        app.db().exec(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < 2999) "
            "insert into th (adr, mydate, temp, hum) "
            "select 1 + i % 4, datetime('2024-03-05 00:00:00', '+' || i || ' seconds'), "
            "i % 50, 50 from n");
        QCOMPARE(app.after("Command1"), 3000);
        RecordListView *view = w->listView();
        const int onScreen = view->recordsOnScreen();
        QScrollBar *bar = view->recordScrollBar();
        QCOMPARE(bar->maximum(), 3000 - onScreen);
        bar->setValue(1500);
        QCOMPARE(w->model()->index(0, 1).data().toString(), QStringLiteral("2024-03-05 00:25:00"));

        // A click, then Shift+End: every record from the clicked one to the last.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(w->model()->index(2, 0)).center());
        QCOMPARE(view->rowSelection().current(), 1502);
        QTest::keyClick(view, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_Left);  // across: the current cell moves, the rows stay
        QCOMPARE(view->rowSelection().ranges(), (std::vector<RowSelection::Range>{{1502, 2999}}));
        QCOMPARE(w->model()->index(onScreen - 1, 1).data().toString(),
                 QStringLiteral("2024-03-05 00:49:59"));
        QVERIFY(view->selectionModel()->isRowSelected(onScreen - 1, {}));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(view->rowSelection().ranges(), (std::vector<RowSelection::Range>{{0, 0}}));
        QVERIFY(w->model()->pagesRead() < 10);

        // The same query read again (更新, Timer1) stays where it was scrolled to.
        bar->setValue(1500);
        QCOMPARE(app.after("Command1"), 3000);
        QCOMPARE(w->model()->windowTop(), 1500);
        QVERIFY(view->rowSelection().ranges().empty());
    }

    // Today, this week and this month set the period of Check2 and refresh the list (their
    // bounds to the second are the core test's); a wrong refresh period is refused; a
    // failure on a tick goes to the status line, not into a box.
    void quickFiltersAndAutomaticRefresh() {
        const FakeClock clock(QDateTime(QDate(2024, 3, 5), QTime(15, 59, 59), Qt::UTC));
        ListApp app(true, &clock);
        AnaQx7 *w = app.w;
        // Beside the day's records (2024-03-05 and one on the 6th): the evening before, and
        // the last second of the month.
        app.db().addRecord(3, "2024-03-04 23:59:59", "1", "1");
        app.db().addRecord(3, "2024-03-31 23:59:59", "1", "1");
        QCOMPARE(app.after("Check12"), 3);  // today: 2024-03-05
        QVERIFY(ticked(w, "Check2"));
        QCOMPARE(app.after("Check13"), 5);  // the week from Monday 2024-03-04 to Sunday
        QVERIFY(!ticked(w, "Check12"));
        QCOMPARE(app.after("Check14"), 6);  // March
        QCOMPARE(app.after("Check14"), 6);  // cleared: no period
        QVERIFY(!ticked(w, "Check2"));
        QCOMPARE(app.services().recordQuery(), kBase);

        type(w, "Text8", "0.5");
        click(w, "Check11");
        QCOMPARE(w->timer()->interval(), 500);
        QVERIFY(w->timer()->isActive());
        click(w, "Check11");
        QVERIFY(!w->timer()->isActive());
        type(w, "Text8", "soon");
        click(w, "Check11");
        QVERIFY(!w->timer()->isActive() && !ticked(w, "Check11"));
        QVERIFY(lastBox(app).contains("每…秒自动更新"));

        app.boxes.clear();
        app.db().exec("alter table th rename to th_gone");
        QVERIFY(!w->LoadGrid1(true));
        QVERIFY(app.boxes.shown.isEmpty());
        QVERIFY(text(w, "statusLine").contains("th"));
        QCOMPARE(app.listed(), 6);
        click(w, "Command1");  // 更新 by hand: a box
        QCOMPARE(app.boxes.shown.size(), 1);
    }

    void chartOfTheLastQuery() {
        ListApp app(false);
        click(app.w, "Command3");
        auto *g = app.find<GraphWindow>("graph");
        // 重绘, then the curves drawn once the pass has ended.
        const auto redraw = [g] {
            click(g, "Command3");
            return QTest::qWaitFor([g] { return !g->isBusy(); }, 10000) ? g->plotCount() : -1;
        };
        SETTLE(g);  // no record: the grid with a note and no readout
        QCOMPARE(g->plotCount(), 0);
        QCOMPARE(g->notes(), QStringList{QStringLiteral("没有记录")});
        g->pointerMoved(10);
        QCOMPARE(text(g, "Label4"), QString());

        addDay(app.db());
        QCOMPARE(redraw(), 4);
        QVERIFY(g->notes().isEmpty());
        // The readout: the record at or left of the pointer (which, up to the edge, is the
        // core test's), kept over a redraw.
        const QPoint middle(g->picture()->width() / 2 + 1, 10);
        QMouseEvent move(QEvent::MouseMove, middle, g->picture()->mapToGlobal(middle), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(g->picture(), &move);
        QCOMPARE(text(g, "Label4"), QStringLiteral("2024-03-05 10:00:00"));
        QCOMPARE(redraw(), 4);
        QCOMPARE(text(g, "Label4"), QStringLiteral("2024-03-05 10:00:00"));

        // Showing it again does not redraw; 重绘 runs the query of the moment.
        click(app.w, "Check1");
        click(app.w, "Command3");
        QCOMPARE(app.find<GraphWindow>("graph"), g);
        QVERIFY(!g->isBusy());
        QCOMPARE(g->plotCount(), 4);
        type(g, "Text4", "-20");
        QCOMPARE(redraw(), 2);
        QCOMPARE(g->notes(), QStringList{QStringLiteral("温度范围的两端相同")});

        // A tick during a redraw starts none; a cancelled redraw says so on the grid.
        click(g, "Command3");
        const int started = g->pass()->startedCount();
        g->redrawOnTimer();
        QCOMPARE(g->pass()->startedCount(), started);
        click(g, "cancel");
        QVERIFY(!g->isBusy());
        QCOMPARE(g->plotCount(), 0);
        QCOMPARE(g->notes(), (QStringList{QStringLiteral("曲线绘制已取消"),
                                          QStringLiteral("温度范围的两端相同")}));
        g->redrawOnTimer();  // with none running, a tick redraws
        SETTLE(g);
        QCOMPARE(g->plotCount(), 2);
        type(g, "Text5", "5");  // automatic redraw
        click(g, "Check1");
        QCOMPARE(g->timer()->interval(), 5000);
        QVERIFY(g->timer()->isActive());
        click(g, "Command1");  // 退出
        flushDeletes();
        QVERIFY(!app.windows().graphIfOpen());
    }

    // Closing the frame while a dialog of a record window waits for the operator crashes
    // nothing: the dialog goes with its window, and the window's code does not run on.
    void closingTheFrameUnderADialog_data() {
        QTest::addColumn<QStringList>("steps");  // the last one opens the dialog
        QTest::newRow("list export") << QStringList{"menu:analys", "AnaQx7/Command4"};
        QTest::newRow("list bound")
            << QStringList{"menu:analys", "AnaQx7/Text4=x", "AnaQx7/Check3"};
        QTest::newRow("chart period")
            << QStringList{"menu:analys", "AnaQx7/Command3", "graph/Text5=x", "graph/Check1"};
        QTest::newRow("deletion") << QStringList{"menu:backup", "dbase/Command3"};
        QTest::newRow("alarm log export") << QStringList{"menu:alarmlog", "AlarmLog/exportCsv"};
        QTest::newRow("alarm log module")
            << QStringList{"menu:alarmlog", "AlarmLog/moduleBox=x", "AlarmLog/onlyModule"};
    }
    void closingTheFrameUnderADialog() {
        QFETCH(QStringList, steps);
        AppFixture app;
        for (const QString &step : steps.mid(0, steps.size() - 1)) run(app, step);
        MessageBoxes *answering = installMessageBoxes(nullptr);  // the real, modal boxes
        QPointer<MDImain> frame = app.frame();
        QTimer::singleShot(300, [frame] { delete frame.data(); });
        run(app, steps.last());
        QTRY_VERIFY(frame.isNull());
        installMessageBoxes(answering);
    }

    void maintenance() {
        const FakeClock clock(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));  // local time
        AppFixture app;
        addDay(app.db());
        QPointer<DbaseWindow> w = new DbaseWindow(
            &app.services().writer(), app.services().databasePath(), clock, app.frame());
        const auto count = [&] { return app.db().scalar("select count(*) from th").toInt(); };
        // Clicks a button and lets what it started end: then the last box.
        const auto after = [&](const char *button) {
            click(w, button);
            return QTest::qWaitFor([&] { return !w || !w->isBusy(); }, 10000) ? lastBox(app)
                                                                              : "busy";
        };

        // Backup: a message without the backup directory, the copy with it; while it runs
        // the window says so and takes no other work.
        QCOMPARE(after("Command1"), QStringLiteral("请在软件安装目录中，建立backup子目录！"));
        QVERIFY(QDir(app.db().dir()).mkdir("backup"));
        click(w, "Command1");
        QVERIFY(text(w, "progress").startsWith("正在备份数据库") && w->isBusy());
        QVERIFY(!in(w, "Command3")->isEnabled());
        SETTLE(w);
        QCOMPARE(lastBox(app), QStringLiteral("数据库mydb.db备份成功！"));
        QVERIFY(text(w, "progress").isEmpty() && in(w, "Command3")->isEnabled());
        QVERIFY(QFile::exists(QDir(app.db().dir()).filePath("backup/2024.03.05_14.07.09_mydb.db")));

        // No to the question deletes nothing (the question's words: the core test, and below).
        app.boxes.answers = {MsgAnswer::No};
        click(w, "Command3");
        QVERIFY(!w->isBusy());
        QCOMPARE(count(), 4);

        // A failed deletion says what failed and deletes nothing; the window stays.
        app.db().exec(
            "create trigger keep before delete on th when old.adr = 2 begin select "
            "raise(abort, 'kept'); end");
        app.boxes.clear();
        QVERIFY(after("Command3").contains("kept"));
        QCOMPARE(app.boxes.shown.size(), 2);
        QCOMPARE(count(), 4);
        flushDeletes();
        QVERIFY(w);
        app.db().exec("drop trigger keep");

        // A bad address is refused at the click.
        type(w, "Text3", "1'--");
        click(w, "Check4");
        QVERIFY(lastBox(app).contains("以上操作只对模块"));
        QVERIFY(!ticked(w, "Check4"));

        // Module 1 fixed at the click: the question names the module and the
        // time that the statement uses, whatever the boxes read now.
        type(w, "Text3", "1");
        click(w, "Check4");
        type(w, "Text3", "2");
        type(w, "Text1", "2024-03-05 09:30:00");
        click(w, "Check1");
        QCOMPARE(after("Command3"),  // Yes
                 QStringLiteral("确认将删除数据库中模块1在2024-03-05 09:30:00之前的温湿度数据？"));
        flushDeletes();
        QVERIFY(!w);
        QCOMPARE(app.db().scalar("select group_concat(mydate, ',') from th").toString(),
                 QStringLiteral("2024-03-05 09:00:00,2024-03-05 10:00:00,2024-03-06 11:00:00"));
    }
};

QTEST_MAIN(TestRecordsWindows)
#include "tst_records_windows.moc"
