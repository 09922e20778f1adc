// The record list, the chart and the maintenance window on a test database:
// opened through the frame's menus, driven through their controls.
#include "app/MDImain.h"
#include "app/Module1.h"
#include "records/AnaQx7.h"
#include "records/ChartPainter.h"
#include "records/Clock.h"
#include "records/DbaseWindow.h"
#include "records/GraphWindow.h"
#include "records/RecordModel.h"
#include "support/AppFixture.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
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

// A control of one window (names repeat across windows).
template <class T = QWidget>
T *in(QWidget *window, const char *name) {
    T *t = window->findChild<T *>(QString::fromLatin1(name));
    if (!t)
        qFatal("no control %s in %s", name, qPrintable(window->objectName()));
    return t;
}
QString text(QWidget *window, const char *name) {
    return in<QLabel>(window, name)->text();
}

// Counts pixels of `colour` in `a` with no pixel of that colour within one pixel in `b`.
int unmatched(const QImage &a, const QImage &b, QRgb colour) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != colour)
                continue;
            bool near = false;
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
        app.menu("analys");
        auto *w = app.find<AnaQx7>("AnaQx7");
        QVERIFY(w);
        QAbstractItemModelTester tester(w->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(in<QTableView>(w, "ListView1")->model(), w->model());
        QCOMPARE(w->model()->rowCount(), 4);
        QCOMPARE(Module1::thsql(), kBase);
        QCOMPARE(in<QLineEdit>(w, "Text2")->text(), QStringLiteral("2024-03-05 08:00:00"));
        QCOMPARE(in<QLineEdit>(w, "Text3")->text(), QStringLiteral("2024-03-06 11:00:00"));
        QCOMPARE(text(w, "Label3"), QStringLiteral("合计：4个记录"));
        QCOMPARE(text(w, "Label2"), QStringLiteral("最高温度：35"));
        QCOMPARE(text(w, "Label4"), QStringLiteral("最低温度：20"));
        QCOMPARE(text(w, "Label5"), QStringLiteral("平均温度：27.6"));
        QCOMPARE(text(w, "Label8"), QStringLiteral("平均湿度：47.5"));

        in<QCheckBox>(w, "Check1")->click();
        QCOMPARE(Module1::thsql(), kBase + " AND adr = 1");
        QCOMPARE(w->model()->rowCount(), 2);
        QCOMPARE(text(w, "Label5"), QStringLiteral("平均温度：25."));

        // The period of the first and last listed record, then module 2 inside it.
        in<QCheckBox>(w, "Check2")->click();
        in<QCheckBox>(w, "Check1")->click();
        QCOMPARE(w->model()->rowCount(), 3);
        QCOMPARE(w->model()->index(2, 1).data().toString(), QStringLiteral("2024-03-05 10:00:00"));

        // A bad bound: a message naming the box, nothing else changes.
        in<QLineEdit>(w, "Text4")->setText("3O");
        in<QCheckBox>(w, "Check3")->click();
        QCOMPARE(app.boxes.shown.size(), 1);
        QVERIFY(app.boxes.shown.first().text.contains("Text4"));
        QVERIFY(!in<QCheckBox>(w, "Check3")->isChecked());
        QCOMPARE(w->model()->rowCount(), 3);
    }

    void noRecordFoundKeepsTheTimes() {
        AppFixture app;
        addDay(app.db());
        app.menu("analys");
        auto *w = app.find<AnaQx7>("AnaQx7");
        in<QLineEdit>(w, "Text1")->setText("9");
        in<QCheckBox>(w, "Check1")->click();
        QCOMPARE(w->model()->rowCount(), 0);
        QCOMPARE(text(w, "Label3"), QStringLiteral("合计：0个记录"));
        QCOMPARE(text(w, "Label2"), QStringLiteral("最高温度："));
        QCOMPARE(text(w, "Label8"), QStringLiteral("平均湿度："));
        QCOMPARE(in<QLineEdit>(w, "Text2")->text(), QStringLiteral("2024-03-05 08:00:00"));
        QCOMPARE(in<QLineEdit>(w, "Text3")->text(), QStringLiteral("2024-03-06 11:00:00"));
    }

    void quickFilters() {
        recordsclock::set([] { return QDateTime(QDate(2024, 3, 5), QTime(15, 59, 59), Qt::UTC); });
        AppFixture app;
        addDay(app.db());
        app.db().addRecord(3, "2024-03-04 23:59:59", "1", "1");
        app.db().addRecord(3, "2024-02-29 12:00:00", "1", "1");
        app.menu("analys");
        auto *w = app.find<AnaQx7>("AnaQx7");
        in<QCheckBox>(w, "Check12")->click();  // today: 2024-03-05
        QVERIFY(in<QCheckBox>(w, "Check2")->isChecked());
        QVERIFY(Module1::thsql().endsWith(
            "'2024-03-05 00:00:00' AND datetime(mydate) <= '2024-03-05 23:59:59'"));
        QCOMPARE(w->model()->rowCount(), 3);
        in<QCheckBox>(w, "Check13")->click();  // the week from Monday 2024-03-04
        QVERIFY(!in<QCheckBox>(w, "Check12")->isChecked());
        QCOMPARE(w->model()->rowCount(), 5);
        in<QCheckBox>(w, "Check14")->click();  // March
        QCOMPARE(w->model()->rowCount(), 5);
        in<QCheckBox>(w, "Check14")->click();  // cleared: no period
        QVERIFY(!in<QCheckBox>(w, "Check2")->isChecked());
        QCOMPARE(w->model()->rowCount(), 6);
    }

    void automaticRefresh() {
        AppFixture app;
        app.menu("analys");
        auto *w = app.find<AnaQx7>("AnaQx7");
        in<QLineEdit>(w, "Text8")->setText("0.5");
        in<QCheckBox>(w, "Check11")->click();
        QVERIFY(w->timer()->isActive());
        QCOMPARE(w->timer()->interval(), 500);
        app.db().addRecord(1, "2024-03-05 08:00:00", "20", "40");
        w->LoadGrid1(true);  // what a tick does
        QCOMPARE(w->model()->rowCount(), 1);
        in<QCheckBox>(w, "Check11")->click();
        QVERIFY(!w->timer()->isActive());

        in<QLineEdit>(w, "Text8")->setText("soon");
        in<QCheckBox>(w, "Check11")->click();
        QVERIFY(!w->timer()->isActive());
        QVERIFY(!in<QCheckBox>(w, "Check11")->isChecked());
        QVERIFY(app.boxes.shown.last().text.contains("Text8"));

        // A failure on a tick goes to the status line, not into a box; the list stays.
        app.boxes.clear();
        app.db().exec("alter table th rename to th_gone");
        QVERIFY(!w->LoadGrid1(true));
        QVERIFY(app.boxes.shown.isEmpty());
        QVERIFY(in<QLabel>(w, "statusLine")->text().contains("th"));
        QCOMPARE(w->model()->rowCount(), 1);
        in<QPushButton>(w, "Command1")->click();  // 更新 by hand: a box
        QCOMPARE(app.boxes.shown.size(), 1);
    }

    void exportListedRecords() {
        AppFixture app;
        addDay(app.db());
        app.menu("analys");
        auto *w = app.find<AnaQx7>("AnaQx7");
        const QString path = QDir(app.db().dir()).filePath("list.csv");
        QCOMPARE(w->exportCsv(path), QString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 6);  // header, four records, the empty rest after the last CRLF
        QVERIFY(lines.first().startsWith("\xEF\xBB\xBF"));
        QCOMPARE(lines.at(2), QByteArray("2,2024-03-05 09:00:00,25.5,45\r"));
    }

    void chartOfTheLastQuery() {
        AppFixture app;
        addDay(app.db());
        app.menu("analys");
        in<QPushButton>(app.find("AnaQx7"), "Command3")->click();
        auto *g = app.find<GraphWindow>("graph");
        QVERIFY(g);
        QCOMPARE(g->plotCount(), 4);
        QVERIFY(g->notes().isEmpty());
        QVERIFY(!g->picture()->image().isNull());

        // The readout: the record at or left of the pointer, empty at the edge.
        g->Picture1_MouseMove(499);
        QCOMPARE(text(g, "Label4"), QStringLiteral("2024-03-05 08:00:00"));
        g->Picture1_MouseMove(1500);
        QCOMPARE(text(g, "Label4"), QStringLiteral("2024-03-06 11:00:00"));
        g->Picture1_MouseMove(2000);
        QCOMPARE(text(g, "Label4"), QString());
        const QPoint inside(g->picture()->width() / 2 + 1, 10);
        QTest::mouseMove(g->picture(), inside);
        QTRY_COMPARE(text(g, "Label4"), QStringLiteral("2024-03-05 10:00:00"));

        // Showing it again does not redraw; 重绘 runs the query of the moment.
        in<QCheckBox>(Module1::anaQx7(), "Check1")->click();
        in<QPushButton>(Module1::anaQx7(), "Command3")->click();
        QCOMPARE(app.find<GraphWindow>("graph"), g);
        QCOMPARE(g->plotCount(), 4);
        g->findChild<QPushButton *>("Command3")->click();
        QCOMPARE(g->plotCount(), 2);

        // Automatic redraw from Text5.
        g->findChild<QLineEdit *>("Text5")->setText("5");
        g->findChild<QCheckBox *>("Check1")->click();
        QCOMPARE(g->timer()->interval(), 5000);
        QVERIFY(g->timer()->isActive());
        g->findChild<QPushButton *>("Command1")->click();  // 退出
        flushDeletes();
        QVERIFY(!Module1::graphIfOpen());
    }

    void chartNotes() {
        AppFixture app;
        app.menu("analys");
        in<QPushButton>(app.find("AnaQx7"), "Command3")->click();
        auto *g = app.find<GraphWindow>("graph");
        QCOMPARE(g->plotCount(), 0);
        QCOMPARE(g->notes(), QStringList{QStringLiteral("没有记录")});
        g->Picture1_MouseMove(10);
        QCOMPARE(text(g, "Label4"), QString());

        addDay(app.db());
        g->findChild<QLineEdit *>("Text4")->setText("-20");
        g->findChild<QPushButton *>("Command3")->click();
        QCOMPARE(g->plotCount(), 4);
        QCOMPARE(g->notes(), QStringList{QStringLiteral("温度范围的两端相同")});
    }

    // Thinning to the pixel columns draws what joining every record draws.
    void decimatedCurveLooksTheSame() {
        const QSize size(400, 300);
        const chart::Range range{0, 100};
        const int n = 60000;
        std::vector<QPointF> all;
        chart::Decimator d;
        double v = 50;
        QRandomGenerator rng(7);
        for (int k = 0; k < n; ++k) {
            v = qBound(-5.0, v + (rng.generateDouble() - 0.5) * 6, 105.0);
            const double x = double(k) * size.width() / n;
            all.emplace_back(x, v);
            d.add(x, v);
        }
        d.finish();
        QVERIFY(d.segmentCount() <= 4 * size.width());
        auto draw = [&](const std::vector<std::vector<QPointF>> &lines) {
            QImage image(size, QImage::Format_RGB32);
            image.fill(Qt::black);
            QPainter p(&image);
            chartpaint::paintCurve(p, size, lines, range, chartpaint::kTempCurve);
            return image;
        };
        const QImage full = draw({all});
        const QImage thin = draw(d.polylines());
        const QRgb yellow = chartpaint::kTempCurve.rgb();
        int lit = 0;
        for (int y = 0; y < full.height(); ++y)
            for (int x = 0; x < full.width(); ++x) lit += full.pixel(x, y) == yellow;
        QVERIFY(lit > 1000);
        QCOMPARE(unmatched(full, thin, yellow), 0);
        QCOMPARE(unmatched(thin, full, yellow), 0);
    }

    void maintenanceDeletes() {
        AppFixture app;
        addDay(app.db());
        app.menu("backup");
        auto *w = app.find<DbaseWindow>("dbase");
        QVERIFY(w);
        app.boxes.answers = {MsgAnswer::No};
        w->Command3_Click();
        QCOMPARE(app.boxes.shown.last().text, QStringLiteral("确认将删除数据库中的温湿度数据？"));
        QCOMPARE(app.boxes.shown.last().title, QStringLiteral("Delete Records"));
        QCOMPARE(app.boxes.shown.last().icon, MsgIcon::Critical);
        QCOMPARE(app.db().scalar("select count(*) from th").toInt(), 4);

        // Module 1 fixed at the click; the question names the box as it reads now.
        in<QCheckBox>(w, "Check4")->click();
        in<QLineEdit>(w, "Text3")->setText("2");
        in<QLineEdit>(w, "Text1")->setText("2024-03-05 09:30:00");
        in<QCheckBox>(w, "Check1")->click();
        app.boxes.answers = {MsgAnswer::Yes};
        in<QPushButton>(w, "Command3")->click();
        QCOMPARE(app.boxes.shown.last().text,
                 QStringLiteral("确认将删除数据库中模块2的温湿度数据？"));
        flushDeletes();
        QVERIFY(!Module1::dbaseIfOpen());
        QCOMPARE(app.db().scalar("select group_concat(mydate, ',') from th").toString(),
                 QStringLiteral("2024-03-05 09:00:00,2024-03-05 10:00:00,2024-03-06 11:00:00"));
    }

    void failedDeletionLeavesTheRecords() {
        AppFixture app;
        addDay(app.db());
        app.db().exec(
            "create trigger keep before delete on th when old.adr = 2 begin select raise(abort, "
            "'kept'); end");
        app.menu("backup");
        auto *w = app.find("dbase");
        in<QPushButton>(w, "Command3")->click();
        QCOMPARE(app.boxes.shown.size(), 2);
        QCOMPARE(app.boxes.shown.last().title, QStringLiteral("删除失败"));
        QVERIFY(app.boxes.shown.last().text.contains("kept"));
        QCOMPARE(app.db().scalar("select count(*) from th").toInt(), 4);
        QVERIFY(Module1::dbaseIfOpen());

        in<QLineEdit>(w, "Text3")->setText("1'--");
        in<QCheckBox>(w, "Check4")->click();
        QVERIFY(app.boxes.shown.last().text.contains("Text3"));
        QVERIFY(!in<QCheckBox>(w, "Check4")->isChecked());
    }

    void backupMessages() {
        recordsclock::set([] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); });
        AppFixture app;
        app.menu("backup");
        auto *w = app.find("dbase");
        in<QPushButton>(w, "Command1")->click();
        QCOMPARE(app.boxes.shown.last().text,
                 QStringLiteral("请在软件安装目录中，建立backup子目录！"));
        QCOMPARE(app.boxes.shown.last().title, QStringLiteral("备份失败"));
        QCOMPARE(app.boxes.shown.last().icon, MsgIcon::Critical);
        QVERIFY(Module1::dbconn().isOpen());

        QVERIFY(QDir(app.db().dir()).mkdir("backup"));
        in<QPushButton>(w, "Command1")->click();
        QCOMPARE(app.boxes.shown.last().text, QStringLiteral("数据库mydb.db备份成功！"));
        QCOMPARE(app.boxes.shown.last().title, QStringLiteral("完成"));
        QCOMPARE(app.boxes.shown.last().icon, MsgIcon::Information);
        QVERIFY(QFile::exists(QDir(app.db().dir()).filePath("backup/2024.03.05_14.07.09_mydb.db")));
        QVERIFY(Module1::dbconn().isOpen());
        QVERIFY(Module1::dbaseIfOpen());  // a backup leaves the window open
        app.db().addRecord(1, "2024-03-05 08:00:00", "20", "40");
    }
};

QTEST_MAIN(TestRecordsWindows)
#include "tst_records_windows.moc"
