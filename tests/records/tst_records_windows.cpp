// The record list, the chart and the maintenance window on a test database:
// opened through the frame's menus, driven through their controls.
#include "app/MDImain.h"
#include "app/Module1.h"
#include "records/BackgroundPass.h"
#include "records/Clock.h"
#include "records/RecordModel.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/ChartPainter.h"
#include "records/ui/DbaseWindow.h"
#include "records/ui/GraphWindow.h"
#include "records/ui/RecordListView.h"
#include "support/AppFixture.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTableView>
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

AnaQx7 *openList(AppFixture &app) {
    app.menu("analys");
    return app.find<AnaQx7>("AnaQx7");
}

// Lets a window's pass end (the event loop runs until it has).
template <class W>
bool settled(W *w) {
    return QTest::qWaitFor([w] { return !w->isBusy(); }, 10000);
}
#define SETTLE(w) QVERIFY(settled(w))

qint64 listed(AnaQx7 *w) {
    return w->model()->totalRows();
}

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

const QStringList kBareFigures = {"合计",       "最高温度：", "最低温度：", "平均温度：",
                                  "最高湿度：", "最低湿度：", "平均湿度："};

// The seven statistics labels, in the order of their captions.
QStringList figures(QWidget *w) {
    QStringList out;
    for (const char *name : {"Label3", "Label2", "Label4", "Label5", "Label6", "Label7", "Label8"})
        out << text(w, name);
    return out;
}

void checkLastBox(const AppFixture &app, const QString &title, const QString &text, MsgIcon icon) {
    QCOMPARE(app.boxes.shown.last().title, title);
    QCOMPARE(app.boxes.shown.last().text, text);
    QCOMPARE(app.boxes.shown.last().icon, icon);
}

// Counts pixels of `colour` in `a` with no pixel of that colour within one pixel in `b`.
int unmatched(const QImage &a, const QImage &b, QRgb colour) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            bool near = a.pixel(x, y) != colour;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx)
                    near = b.valid(x + dx, y + dy) && b.pixel(x + dx, y + dy) == colour;
            n += near ? 0 : 1;
        }
    }
    return n;
}
}  // namespace

class TestRecordsWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { recordsclock::set({}); }

    void listFiltersAndStatistics() {
        AppFixture app;
        addDay(app.db());
        AnaQx7 *w = openList(app);
        QVERIFY(w);
        QAbstractItemModelTester tester(w->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(in<QTableView>(w, "ListView1")->model(), w->model());
        SETTLE(w);
        QCOMPARE(listed(w), 4);
        QCOMPARE(w->model()->rowCount(), 4);
        QCOMPARE(Module1::thsql(), kBase);
        QCOMPARE(text(w, "Text2") + " " + text(w, "Text3"),
                 QStringLiteral("2024-03-05 08:00:00 2024-03-06 11:00:00"));
        QCOMPARE(figures(w),
                 (QStringList{"合计：4个记录", "最高温度：35", "最低温度：20", "平均温度：27.6",
                              "最高湿度：55", "最低湿度：40", "平均湿度：47.5"}));

        click(w, "Check1");
        QCOMPARE(Module1::thsql(), kBase + " AND adr = 1");
        SETTLE(w);
        QCOMPARE(listed(w), 2);

        // The period of the first and last listed record, then every module inside it.
        click(w, "Check2");
        SETTLE(w);
        click(w, "Check1");
        SETTLE(w);
        QCOMPARE(listed(w), 3);
        QCOMPARE(w->model()->index(1, 2).data().toString(), QStringLiteral("25.5"));
        // The file holds the listed records.
        const QString path = QDir(app.db().dir()).filePath("list.csv");
        QVERIFY(w->exportCsv(path));
        SETTLE(w);
        checkLastBox(app, "导出CSV", "已导出3个记录。", MsgIcon::Information);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 5);  // header, three records, the empty rest after the last CRLF
        QCOMPARE(lines.at(2), QByteArray("2,2024-03-05 09:00:00,25.5,45\r"));

        // A bad bound: a message naming the box, nothing else changes.
        app.boxes.clear();
        in<QLineEdit>(w, "Text4")->setText("3O");
        click(w, "Check3");
        QCOMPARE(app.boxes.shown.size(), 1);
        QVERIFY(app.boxes.shown.first().text.contains("“温度”的上限"));
        QVERIFY(!in<QCheckBox>(w, "Check3")->isChecked());
        QVERIFY(!w->isBusy());
        QCOMPARE(listed(w), 3);

        // No record found: count 0, six empty figures, the times kept.
        in<QLineEdit>(w, "Text1")->setText("9");
        click(w, "Check1");
        SETTLE(w);
        QCOMPARE(listed(w), 0);
        QCOMPARE(figures(w), (QStringList{"合计：0个记录", "最高温度：", "最低温度：", "平均温度：",
                                          "最高湿度：", "最低湿度：", "平均湿度："}));
        QCOMPARE(text(w, "Text2") + " " + text(w, "Text3"),
                 QStringLiteral("2024-03-05 08:00:00 2024-03-05 10:00:00"));
    }

    // While a pass runs the window shows its progress and a way to cancel it. A cancelled
    // pass never shows its figures: a list that was filling keeps the bare captions and the
    // rows counted so far, a list of the same query kept its rows and figures, which stay.
    void cancelledStatisticsAreNeverFinal() {
        AppFixture app;
        addDay(app.db());
        AnaQx7 *w = openList(app);
        QVERIFY(in<QProgressBar>(w, "progress")->isVisibleTo(w));
        QVERIFY(in<QPushButton>(w, "cancel")->isVisibleTo(w));
        QVERIFY(!in<QPushButton>(w, "Command4")->isEnabled());  // the export waits for the list
        SETTLE(w);
        QVERIFY(!in<QProgressBar>(w, "progress")->isVisibleTo(w));
        QVERIFY(!in<QPushButton>(w, "cancel")->isVisibleTo(w));
        QVERIFY(in<QPushButton>(w, "Command4")->isEnabled());
        const QStringList firstFigures = figures(w);

        app.db().addRecord(1, "2024-03-07 08:00:00", "99", "99");
        click(w, "Check1");  // another query: its list fills as it is counted
        click(w, "cancel");
        QVERIFY(!w->isBusy());
        QCOMPARE(figures(w), kBareFigures);
        QVERIFY(text(w, "statusLine").startsWith(QStringLiteral("已取消")));
        QVERIFY(!in<QProgressBar>(w, "progress")->isVisibleTo(w));
        QCoreApplication::processEvents();  // the cancelled pass ends; nothing of it shows
        QCOMPARE(figures(w), kBareFigures);

        click(w, "Check1");  // back to every record
        SETTLE(w);
        QCOMPARE(figures(w).first(), QStringLiteral("合计：5个记录"));
        click(w, "Command1");  // the same query again: the list stays until the count is whole
        QCOMPARE(listed(w), 5);
        click(w, "cancel");
        QCOMPARE(figures(w).first(), QStringLiteral("合计：5个记录"));
        QCOMPARE(listed(w), 5);
        QVERIFY(firstFigures != figures(w));
    }

    // A Timer1 tick that finds the last refresh still running starts none; a refresh by
    // the operator replaces the running pass.
    void refreshDuringAPass() {
        AppFixture app;
        addDay(app.db());
        AnaQx7 *w = openList(app);
        BackgroundPass *pass = w->pass();
        QVERIFY(w->isBusy());
        const int started = pass->startedCount();
        QVERIFY(w->LoadGrid1(true));  // what a tick does
        QCOMPARE(pass->startedCount(), started);
        QVERIFY(w->isBusy());
        click(w, "Command1");  // 更新
        QCOMPARE(pass->startedCount(), started + 1);
        QVERIFY(text(w, "statusLine").isEmpty());  // replaced, not cancelled
        SETTLE(w);
        QCOMPARE(figures(w).first(), QStringLiteral("合计：4个记录"));
        QVERIFY(w->LoadGrid1(true));
        QCOMPARE(pass->startedCount(), started + 2);
        SETTLE(w);

        // An export runs alone; a tick waits for it, and its cancel leaves no file. (Another
        // program holding the file keeps the export from ending before the cancel.)
        LiteConnection other;
        QVERIFY(other.Open(app.db().path()));
        QVERIFY(other.Execute("BEGIN EXCLUSIVE"));
        const QString path = QDir(app.db().dir()).filePath("list.csv");
        QVERIFY(w->exportCsv(path));
        QVERIFY(!w->exportCsv(path));
        QVERIFY(w->LoadGrid1(true));
        QCOMPARE(pass->startedCount(), started + 3);
        click(w, "cancel");
        QVERIFY(other.Execute("COMMIT"));
        QVERIFY(text(w, "statusLine").contains(QStringLiteral("导出已取消")));
        QVERIFY(!w->isBusy());
        QVERIFY(!QFile::exists(path));
    }

    // The list scrolls over every record with its own bar; the keys and the selection count
    // in records of the whole list.
    void scrollingAManyRecordList() {
        AppFixture app;
        app.db().exec(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < 2999) "
            "insert into th (adr, mydate, temp, hum) "
            "select 1 + i % 4, datetime('2024-03-05 00:00:00', '+' || i || ' seconds'), "
            "i % 50, 50 from n");
        AnaQx7 *w = openList(app);
        SETTLE(w);
        RecordListView *view = w->listView();
        QCOMPARE(listed(w), 3000);
        const int onScreen = view->recordsOnScreen();
        QVERIFY(w->model()->rowCount() <= onScreen + 1);
        QScrollBar *bar = view->recordScrollBar();
        QVERIFY(bar->isVisibleTo(w));
        QCOMPARE(bar->maximum(), 3000 - onScreen);

        bar->setValue(1500);
        QCOMPARE(w->model()->windowTop(), 1500);
        QCOMPARE(w->model()->index(0, 1).data().toString(), QStringLiteral("2024-03-05 00:25:00"));

        // A click, then Shift+End: every record from the clicked one to the last.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(w->model()->index(2, 0)).center());
        QCOMPARE(view->rowSelection().current(), 1502);
        QTest::keyClick(view, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(view->rowSelection().ranges(), (std::vector<RowSelection::Range>{{1502, 2999}}));
        QCOMPARE(bar->value(), bar->maximum());
        QTest::keyClick(view, Qt::Key_Left);  // across: the current cell moves, the rows stay
        QCOMPARE(view->rowSelection().ranges(), (std::vector<RowSelection::Range>{{1502, 2999}}));
        QCOMPARE(w->model()->index(onScreen - 1, 1).data().toString(),
                 QStringLiteral("2024-03-05 00:49:59"));
        QVERIFY(view->selectionModel()->isRowSelected(onScreen - 1, {}));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(view->rowSelection().ranges(), (std::vector<RowSelection::Range>{{0, 0}}));
        QVERIFY(w->model()->pages().pagesRead() < 10);  // only the pages shown were read

        // The same query read again (更新, Timer1) stays where it was scrolled to.
        bar->setValue(1500);
        click(w, "Command1");
        SETTLE(w);
        QCOMPARE(bar->value(), 1500);
        QCOMPARE(w->model()->windowTop(), 1500);
        QVERIFY(view->rowSelection().ranges().empty());
    }

    // Today, this week and this month set the period of Check2 and refresh the list.
    void quickFilters() {
        const auto period = [](const char *first, const char *last) {
            return QStringLiteral(
                       " AND datetime(mydate) >= '%1 00:00:00' AND datetime(mydate) "
                       "<= '%2 23:59:59'")
                .arg(first, last);
        };
        recordsclock::set([] { return QDateTime(QDate(2024, 3, 5), QTime(15, 59, 59), Qt::UTC); });
        AppFixture app;
        addDay(app.db());
        app.db().addRecord(3, "2024-03-04 23:59:59", "1", "1");
        AnaQx7 *w = openList(app);
        click(w, "Check12");  // today: 2024-03-05
        QVERIFY(in<QCheckBox>(w, "Check2")->isChecked());
        QCOMPARE(Module1::thsql(), kBase + period("2024-03-05", "2024-03-05"));
        SETTLE(w);
        QCOMPARE(listed(w), 3);
        click(w, "Check13");  // the week from Monday 2024-03-04
        QVERIFY(!in<QCheckBox>(w, "Check12")->isChecked());
        SETTLE(w);
        QCOMPARE(listed(w), 5);
        click(w, "Check14");  // March
        QCOMPARE(Module1::thsql(), kBase + period("2024-03-01", "2024-03-31"));
        click(w, "Check14");  // cleared: no period
        QVERIFY(!in<QCheckBox>(w, "Check2")->isChecked());
        QCOMPARE(Module1::thsql(), kBase);
    }

    void automaticRefresh() {
        AppFixture app;
        AnaQx7 *w = openList(app);
        in<QLineEdit>(w, "Text8")->setText("0.5");
        click(w, "Check11");
        QVERIFY(w->timer()->isActive());
        QCOMPARE(w->timer()->interval(), 500);
        app.db().addRecord(1, "2024-03-05 08:00:00", "20", "40");
        SETTLE(w);
        QVERIFY(w->LoadGrid1(true));  // what a tick does
        SETTLE(w);
        QCOMPARE(listed(w), 1);
        click(w, "Check11");
        QVERIFY(!w->timer()->isActive());

        in<QLineEdit>(w, "Text8")->setText("soon");
        click(w, "Check11");
        QVERIFY(!w->timer()->isActive());
        QVERIFY(!in<QCheckBox>(w, "Check11")->isChecked());
        QVERIFY(app.boxes.shown.last().text.contains("每…秒自动更新"));

        // A failure on a tick goes to the status line, not into a box; the list stays.
        app.boxes.clear();
        app.db().exec("alter table th rename to th_gone");
        QVERIFY(!w->LoadGrid1(true));
        QVERIFY(app.boxes.shown.isEmpty());
        QVERIFY(text(w, "statusLine").contains("th"));
        QCOMPARE(listed(w), 1);
        click(w, "Command1");  // 更新 by hand: a box
        QCOMPARE(app.boxes.shown.size(), 1);
    }

    void chartOfTheLastQuery() {
        AppFixture app;
        AnaQx7 *list = openList(app);
        click(list, "Command3");
        auto *g = app.find<GraphWindow>("graph");
        QVERIFY(g);
        // No record: the grid with a note and no readout.
        SETTLE(g);
        QCOMPARE(g->plotCount(), 0);
        QCOMPARE(g->notes(), QStringList{QStringLiteral("没有记录")});
        g->pointerMoved(10);
        QCOMPARE(text(g, "Label4"), QString());

        addDay(app.db());
        click(g, "Command3");  // 重绘
        QVERIFY(in<QProgressBar>(g, "progress")->isVisibleTo(g));
        SETTLE(g);
        QCOMPARE(g->plotCount(), 4);
        QVERIFY(g->notes().isEmpty());
        QVERIFY(!g->picture()->image().isNull());
        // The readout: the record at or left of the pointer, empty at the edge.
        const QPoint middle(g->picture()->width() / 2 + 1, 10);
        QMouseEvent move(QEvent::MouseMove, middle, g->picture()->mapToGlobal(middle), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(g->picture(), &move);
        QCOMPARE(text(g, "Label4"), QStringLiteral("2024-03-05 10:00:00"));
        // A redraw leaves the readout alone: it changes when the pointer moves.
        click(g, "Command3");
        SETTLE(g);
        QCOMPARE(text(g, "Label4"), QStringLiteral("2024-03-05 10:00:00"));
        g->pointerMoved(2000);
        QCOMPARE(text(g, "Label4"), QString());
        // Each scale label, written from half a band above its line, fills
        // that half band: it reads as its own line's, at any plot height.
        for (int height : {200, 420, 800}) {
            const int halfBand = height / 20;
            const int labelHeight =
                QFontMetrics(chartpaint::labelFont(QSize(800, height))).height();
            QVERIFY2(labelHeight <= halfBand && labelHeight >= halfBand * 3 / 4,
                     qPrintable(QString("%1: %2").arg(height).arg(labelHeight)));
        }

        // Showing it again does not redraw; 重绘 runs the query of the moment.
        click(list, "Check1");
        click(list, "Command3");
        QCOMPARE(app.find<GraphWindow>("graph"), g);
        QVERIFY(!g->isBusy());
        QCOMPARE(g->plotCount(), 4);
        in<QLineEdit>(g, "Text4")->setText("-20");
        click(g, "Command3");
        SETTLE(g);
        QCOMPARE(g->plotCount(), 2);
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
        g->redrawOnTimer();
        QCOMPARE(g->pass()->startedCount(), started + 1);
        SETTLE(g);
        QCOMPARE(g->plotCount(), 2);

        // Automatic redraw from Text5.
        in<QLineEdit>(g, "Text5")->setText("5");
        click(g, "Check1");
        QCOMPARE(g->timer()->interval(), 5000);
        QVERIFY(g->timer()->isActive());
        click(g, "Command1");  // 退出
        flushDeletes();
        QVERIFY(!Module1::graphIfOpen());
    }

    // Thinning to the pixel columns draws what joining every record draws.
    void decimatedCurveLooksTheSame() {
        const QSize size(400, 300);
        const int n = 60000;
        std::vector<QPointF> all;
        chart::Decimator d;
        double v = 50;
        QRandomGenerator rng(7);
        for (int k = 0; k < n; ++k) {
            v = qBound(-5.0, v + (rng.generateDouble() - 0.5) * 6, 105.0);
            all.emplace_back(double(k) * size.width() / n, v);
            d.add(all.back().x(), v);
        }
        d.finish();
        auto draw = [&](const std::vector<std::vector<QPointF>> &lines) {
            QImage image(size, QImage::Format_RGB32);
            image.fill(Qt::black);
            QPainter p(&image);
            chartpaint::paintCurve(p, size, lines, {0, 100}, chartpaint::kTempCurve);
            return image;
        };
        const QImage full = draw({all});
        const QImage thin = draw(d.polylines());
        const QRgb yellow = chartpaint::kTempCurve.rgb();
        QVERIFY(unmatched(full, draw({}), yellow) > 1000);  // the curve is drawn at all
        QCOMPARE(unmatched(full, thin, yellow), 0);
        QCOMPARE(unmatched(thin, full, yellow), 0);
    }

    void maintenance() {
        recordsclock::set([] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); });
        AppFixture app;
        addDay(app.db());
        app.menu("backup");
        auto *w = app.find<DbaseWindow>("dbase");
        QVERIFY(w);

        // Backup: a message without the backup directory, the copy with it; the connection
        // stays open.
        click(w, "Command1");
        checkLastBox(app, "备份失败", "请在软件安装目录中，建立backup子目录！", MsgIcon::Critical);
        QVERIFY(Module1::dbconn().isOpen());
        QVERIFY(QDir(app.db().dir()).mkdir("backup"));
        click(w, "Command1");
        checkLastBox(app, "完成", "数据库mydb.db备份成功！", MsgIcon::Information);
        QVERIFY(QFile::exists(QDir(app.db().dir()).filePath("backup/2024.03.05_14.07.09_mydb.db")));

        // The question; No deletes nothing.
        app.boxes.answers = {MsgAnswer::No};
        click(w, "Command3");
        checkLastBox(app, "Delete Records", "确认将删除数据库中的温湿度数据？", MsgIcon::Critical);
        QCOMPARE(app.db().scalar("select count(*) from th").toInt(), 4);

        // A failed deletion says what failed and deletes nothing; the window stays.
        app.db().exec(
            "create trigger keep before delete on th when old.adr = 2 begin select "
            "raise(abort, 'kept'); end");
        app.boxes.clear();
        click(w, "Command3");
        QCOMPARE(app.boxes.shown.size(), 2);
        QCOMPARE(app.boxes.shown.last().title, QStringLiteral("删除失败"));
        QVERIFY(app.boxes.shown.last().text.contains("kept"));
        QCOMPARE(app.db().scalar("select count(*) from th").toInt(), 4);
        flushDeletes();
        QVERIFY(Module1::dbaseIfOpen());  // nor did the backups close it
        app.db().exec("drop trigger keep");

        // A bad address is refused at the click.
        in<QLineEdit>(w, "Text3")->setText("1'--");
        click(w, "Check4");
        QVERIFY(app.boxes.shown.last().text.contains("以上操作只对模块"));
        QVERIFY(!in<QCheckBox>(w, "Check4")->isChecked());

        // Module 1 fixed at the click: the question names the module and the
        // time that the statement uses, whatever the boxes read now.
        in<QLineEdit>(w, "Text3")->setText("1");
        click(w, "Check4");
        in<QLineEdit>(w, "Text3")->setText("2");
        in<QLineEdit>(w, "Text1")->setText("2024-03-05 09:30:00");
        click(w, "Check1");
        app.boxes.answers = {MsgAnswer::Yes};
        click(w, "Command3");
        QCOMPARE(app.boxes.shown.last().text,
                 QStringLiteral("确认将删除数据库中模块1在2024-03-05 09:30:00之前的温湿度数据？"));
        flushDeletes();
        QVERIFY(!Module1::dbaseIfOpen());
        QCOMPARE(app.db().scalar("select group_concat(mydate, ',') from th").toString(),
                 QStringLiteral("2024-03-05 09:00:00,2024-03-05 10:00:00,2024-03-06 11:00:00"));
    }
};

QTEST_MAIN(TestRecordsWindows)
#include "tst_records_windows.moc"
