// The records without any window: the record query and its texts, statistics and
// formats, the CSV file, the chart's numbers, maintenance; and the passes that read the
// records in slices on a thread of their own (the list's pages and statistics, the chart's
// curves, the export, what runs them), each held against reading the whole query in one go.
#include "records/BackgroundPass.h"
#include "records/ChartData.h"
#include "records/ChartGeometry.h"
#include "records/Maintenance.h"
#include "records/RecordCsv.h"
#include "records/RecordListPass.h"
#include "records/RecordLoader.h"
#include "records/RecordModel.h"
#include "records/RecordQuery.h"
#include "records/RecordStats.h"
#include "records/RowSelection.h"
#include "store/LiteConnection.h"
#include "store/ValueText.h"
#include "support/TestDatabase.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <sqlite3.h>
#include <sys/resource.h>

#include <csignal>

#include <atomic>
#include <limits>

namespace {
const QString kBase = QStringLiteral("select * from th where id<>0");

RecordQuery::Texts defaultTexts() {
    return {"1", "2010-01-01 00:00:00", "2019-12-31 23:59:59", "40.0", "-40.0", "99.9", "0"};
}

// Clicks on condition boxes, each of which must be taken: +n ticks Check n, -n clears it.
void clickAll(RecordQuery &q, std::initializer_list<int> clicks,
              const RecordQuery::Texts &texts = defaultTexts()) {
    for (int c : clicks) QVERIFY(q.click(RecordCondition(qAbs(c) - 1), c > 0, texts).isEmpty());
}

// Rows as the list shows them: "adr|time|temp|hum".
template <class Cell>
QStringList joined(qint64 rows, const Cell &cell) {
    QStringList out;
    for (qint64 r = 0; r < rows; ++r)
        out << QStringList{cell(r, 0), cell(r, 1), cell(r, 2), cell(r, 3)}.join('|');
    return out;
}
// Every row of a query, read in one go.
QStringList everyRow(LiteConnection &conn, const QString &sql) {
    const RecordLoad load = loadRecords(conn, sql);
    return joined(load.table.size(), [&](qint64 r, int c) { return load.table.cell(r, c); });
}
// The same rows read page by page through an index.
QStringList pagedRows(LiteConnection &conn, const PageIndex &index) {
    RecordModel model(conn);
    model.setIndex(index);
    return joined(model.totalRows(), [&](qint64 r, int c) { return model.cell(r, c); });
}

// A database; with `mixed`, records of three modules, some values no numbers, gaps in the ids.
struct Records {
    LiteConnection conn;
    TestDatabase db{conn};
    explicit Records(bool mixed = true) {
        if (!mixed)
            return;
        LiteTransaction tx(conn);
        for (int i = 0; i < 40; ++i)
            db.addRecord(1 + i % 3, QStringLiteral("2024-03-05 10:%1:00").arg(i, 2, 10, QChar('0')),
                         i % 11 == 5 ? QStringLiteral("x") : QString::number(10 + (i * 7) % 23),
                         QString::number(40 + i % 9) + ".5");
        db.exec("insert into th (adr, mydate, temp, hum) values (2, null, null, 'wet')");
        QVERIFY(tx.commit());
        db.exec("delete from th where id in (5, 6, 7, 20)");
    }
    ListResult list(const QString &sql, ListPass &&pass = ListPass(4), qint64 sliceIds = 10) {
        PassControl control;
        return runListPass(db.path(), sql, pass, control, sliceIds);
    }
};

// The curves as a chart that knows the count beforehand draws them: every row of the
// query fed to the decimator at x = k * width / count.
struct Curves {
    qsizetype count = 0;
    chart::Decimator temp, hum;
    QStringList times;
};
Curves everyRecordFed(LiteConnection &conn, const QString &sql, double width) {
    auto numberAt = [](const LiteStatement &st, int p) {  // NaN breaks the curve
        using T = LiteStatement::Type;
        const T type = st.columnType(p);
        if (type == T::Real || type == T::Integer)
            return st.real(p);
        return type == T::Text ? parseDecimal(st.text(p)).value_or(qQNaN()) : qQNaN();
    };
    Curves c;
    c.count = everyRow(conn, sql).size();
    LiteStatement st = conn.prepare(sql);
    const double step = width / double(c.count);  // as the chart pass steps
    for (qsizetype k = 0; st.Step(), !st.done(); ++k) {
        c.temp.add(double(k) * step, numberAt(st, 3));
        c.hum.add(double(k) * step, numberAt(st, 4));
        c.times << cellText(st.value(2));
    }
    c.temp.finish();
    c.hum.finish();
    return c;
}

// A list pass that does something after each slice.
class WatchedPass : public ListPass {
public:
    using ListPass::ListPass;
    std::function<void()> afterSlice;
    void sliceDone(qint64 lastId) override {
        ListPass::sliceDone(lastId);
        afterSlice();
    }
};
}  // namespace

class TestRecordsCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---- statement text -------------------------------------------------
    void statementTexts() {
        RecordQuery example;
        clickAll(example, {1, 2, 3, 4, 8, 10});
        QCOMPARE(example.statement(),
                 kBase + " AND adr = 1" +
                     " AND datetime(mydate) >= '2010-01-01 00:00:00' AND datetime(mydate) <= "
                     "'2019-12-31 23:59:59'" +
                     " AND temp < 40.0 AND temp >= -40.0 AND hum < 99.9 AND hum >= 0");

        // The pairs share one fragment: the last click decides.
        RecordQuery pairs;
        clickAll(pairs, {3, 5});
        QCOMPARE(pairs.statement(), kBase + " AND temp <= 40.0");
        clickAll(pairs, {-3});  // clears the shared fragment though Check5 shows ticked
        QCOMPARE(pairs.statement(), kBase);
        clickAll(pairs, {9, 10, 7, 8, 6});
        QCOMPARE(pairs.statement(), kBase + " AND temp > -40.0 AND hum < 99.9 AND hum >= 0");

        // A fragment keeps the text of its click; blanks around the address go.
        RecordQuery later;
        RecordQuery::Texts t = defaultTexts();
        clickAll(later, {3}, t);
        t.tempHigh = "10";
        t.address = "  3  ";
        QCOMPARE(later.statement(), kBase + " AND temp < 40.0");
        clickAll(later, {-3, 3, 1}, t);
        QCOMPARE(later.statement(), kBase + " AND adr = 3 AND temp < 10");
    }

    // A bad text names its box and leaves the statement as it was. Only the box's own text is
    // bad, so a box reading another's text is caught too.
    void badTextsAreRefused() {
        using T = RecordQuery::Texts;
        const std::tuple<int, QString T::*, const char *, const char *> cases[] = {
            {1, &T::address, "1a", "“只看模块”"},
            {1, &T::address, "", "“只看模块”"},
            {1, &T::address, "1 or 1=1", "“只看模块”"},
            {2, &T::from, "2010-1-1", "“限制时间段，从”"},
            {2, &T::from, "2010-01-01 00:00:00' or '1'='1", "“限制时间段，从”"},
            {2, &T::to, "2019-12-31 23:59:5' or '1", "“到”"},
            {3, &T::tempHigh, "4O", "“温度”的上限"},
            {6, &T::tempLow, "0 or 1", "“温度”的下限"},
            {7, &T::humHigh, "", "“湿度”的上限"},
            {9, &T::humLow, "x", "“湿度”的下限"}};
        for (const auto &[box, field, text, named] : cases) {
            RecordQuery q;
            clickAll(q, {box});
            const QString before = q.statement();
            T t = defaultTexts();
            t.*field = text;
            QVERIFY2(q.click(RecordCondition(box - 1), true, t).contains(named), text);
            QCOMPARE(q.statement(), before);
        }
    }

    // Seconds to whole milliseconds, half to even; nothing for what a timer cannot run.
    void refreshPeriods() {
        const std::pair<const char *, int> cases[] = {
            {"60", 60000}, {"0.5", 500}, {" 5 ", 5000}, {"0.0025", 2},  {"0.0035", 4},
            {"0", -1},     {"-1", -1},   {"abc", -1},   {"3000000", -1}};
        for (const auto &[text, ms] : cases) QCOMPARE(periodMilliseconds(text).value_or(-1), ms);
    }

    // Today, this week and this month in record time (UTC + 8 hours): 15:59:59 UTC is the
    // last second of a day there, 16:00 the first of the next.
    void quickPeriods() {
        const std::tuple<const char *, int, const char *, const char *> cases[] = {
            {"2024-03-05T15:59:59Z", 0, "2024-03-05", "2024-03-05"},
            {"2024-03-05T16:00:00Z", 0, "2024-03-06", "2024-03-06"},
            {"2024-03-10T15:59:59Z", 1, "2024-03-04", "2024-03-10"},  // a Sunday night
            {"2024-03-10T16:00:00Z", 1, "2024-03-11", "2024-03-17"},  // Monday
            {"2024-03-01T00:00:00Z", 1, "2024-02-26", "2024-03-03"},  // across months
            {"2024-02-29T15:59:59Z", 2, "2024-02-01", "2024-02-29"},  // leap February
            {"2024-02-29T16:00:00Z", 2, "2024-03-01", "2024-03-31"},
            {"2024-12-31T16:00:00Z", 2, "2025-01-01", "2025-01-31"},
            {"2024-03-05T01:00:00-05:00", 0, "2024-03-05", "2024-03-05"}};  // any zone
        for (const auto &[utc, period, first, last] : cases) {
            const PeriodTexts p =
                quickPeriod(QuickPeriod(period), QDateTime::fromString(utc, Qt::ISODate));
            QCOMPARE(p.from, QString(first) + " 00:00:00");
            QCOMPARE(p.to, QString(last) + " 23:59:59");
        }
    }

    // ---- statistics and formats -----------------------------------------
    void patternFormat() {
        const std::tuple<double, const char *, const char *> cases[] = {
            {23.46, "###.#", "23.5"}, {0.46, "###.#", ".5"},       {25.0, "###.#", "25."},
            {-3.25, "###.#", "-3.3"}, {100.0, "##.#", "100."},     {-0.04, "##.#", "."},
            {23.45, "##.#", "23.5"},  {1234.56, "##.#", "1234.6"}, {9.96, "##.#", "10."},
            {0.5, "00.00", "00.50"}};
        for (const auto &[value, pattern, shown] : cases)
            QCOMPARE(formatPattern(value, pattern), QString(shown));
    }

    // Count, extremes and the arithmetic mean of the listed values, in any order, the same from
    // the list's pass as from reading every row (no row: see the list window's test).
    void statistics() {
        const std::pair<QStringList, const char *> cases[] = {
            {{"10", "20", "30"}, "3个记录 30 10 20. 50 50 50."},
            {{"30", "20", "10"}, "3个记录 30 10 20. 50 50 50."},
            {{"23.4", "23.4", "23.5"}, "3个记录 23.5 23.4 23.4 50 50 50."},
            {{"-3.25", "-3.25"}, "2个记录 -3.25 -3.25 -3.3 50 50 50."}};
        for (const auto &[temps, shown] : cases) {
            Records r(false);
            for (const QString &temp : temps) r.db.addRecord(1, "2024-03-05 10:00:00", temp, "50");
            const QStringList captions = statisticsCaptions(loadRecords(r.conn, kBase).stats);
            QCOMPARE(captions.join(' ').remove(QRegularExpression("[^ ]*：")), shown);
            QCOMPARE(statisticsCaptions(r.list(kBase).stats), captions);
        }
    }

    // Every kind of value a cell can hold comes back as the database holds it, in the list and
    // in the CSV file (quoted where needed). A cancelled export leaves nothing under the
    // chosen name (a file already there stays as it was) and nothing beside it.
    void cellsAndCsv() {
        Records r(false);
        r.db.addRecord(3, "2024-03-05 14:07:09", "23.5", "61.2");
        r.db.addRecord(255, "2024-03-05 14:07:10", "-10", "100");
        r.db.addRecord(1, "2024-3-5 1:2:3", "abc", "1.25");
        r.db.exec(
            "insert into th (adr, mydate, temp, hum) values (null, null, null, 5000.5), "
            "('x', 20240305, -0.5, 0.1), (4, 'a,\"b\"', null, -0.5)");
        const QStringList rows = everyRow(r.conn, kBase);
        QCOMPARE(rows, (QStringList{"3|2024-03-05 14:07:09|23.5|61.2",
                                    "255|2024-03-05 14:07:10|-10|100", "1|2024-3-5 1:2:3|abc|1.25",
                                    "|||5000.5", "x|20240305|-0.5|0.1", "4|a,\"b\"||-0.5"}));
        // abc and the nulls are not numbers: the figures count the others.
        const QStringList figures = {"合计：6个记录",  "最高温度：23.5",   "最低温度：-10",
                                     "平均温度：4.3",  "最高湿度：5000.5", "最低湿度：-0.5",
                                     "平均湿度：860.4"};
        const ListResult listed = r.list(kBase, ListPass(4), 2);
        QCOMPARE(statisticsCaptions(listed.stats), figures);
        QCOMPARE(listed.firstTime + "|" + listed.lastTime,
                 QStringLiteral("2024-03-05 14:07:09|a,\"b\""));

        // The file holds the listed rows, read again a stretch at a time.
        const QDir dir(r.db.dir());
        PassControl control;
        const CsvResult written =
            exportCsv(r.db.path(), listed.index, dir.filePath("out.csv"), control);
        QVERIFY(written.error.isEmpty() && written.rows == 6);
        QFile f(dir.filePath("out.csv"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray csv = "\xEF\xBB\xBF" + QStringLiteral("地址,采集时间,温度,湿度\r\n").toUtf8();
        for (const QString &row : rows.mid(0, 5)) csv += row.toUtf8().replace('|', ',') + "\r\n";
        QCOMPARE(f.readAll(), csv + "4,\"a,\"\"b\"\"\",,-0.5\r\n");
        QVERIFY(!exportCsv(r.db.path(), listed.index, dir.filePath("no/such/dir/out.csv"), control)
                     .error.isEmpty());

        const QStringList before = dir.entryList(QDir::Files);
        PassControl cancelled;
        QVERIFY(cancelled.cancel());
        for (const QString &target : {dir.filePath("new.csv"), f.fileName()}) {
            const CsvResult none = exportCsv(r.db.path(), listed.index, target, cancelled);
            QVERIFY(none.cancelled && none.error.isEmpty());
        }
        QCOMPARE(dir.entryList(QDir::Files), before);
        f.close();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), csv + "4,\"a,\"\"b\"\"\",,-0.5\r\n");
    }

    // A file that cannot be written says what the system said (a full disk: that it is full),
    // never "Unknown error", and leaves nothing behind: writing onto a full device, and past the
    // size a file may have (the last lines go out when the file is put in place).
    void csvWriteFailures_data() {
        QTest::addColumn<QString>("path");  // empty: a new file in the test's directory
        QTest::addColumn<int>("sizeLimit");
        QTest::addColumn<QString>("said");
        QTest::newRow("full device") << "/dev/full" << 0 << "磁盘已满（No space left on device）";
        QTest::newRow("size limit") << "" << 200 << "File too large";
    }
    void csvWriteFailures() {
        QFETCH(QString, path);
        QFETCH(int, sizeLimit);
        QFETCH(QString, said);
        Records r;
        const ListResult listed = r.list(kBase);
        const QDir dir(r.db.dir());
        const QStringList before = dir.entryList(QDir::Files);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit unlimited = limit;
        if (sizeLimit > 0) {
            std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead
            limit.rlim_cur = rlim_t(sizeLimit);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        PassControl control;
        const CsvResult result = exportCsv(
            r.db.path(), listed.index, path.isEmpty() ? dir.filePath("out.csv") : path, control);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        QCOMPARE(result.error, said);
        QCOMPARE(dir.entryList(QDir::Files), before);
    }

    // ---- chart numbers --------------------------------------------------
    void scaleLabelsAndReadout() {
        const chart::Scale s = chart::readScale("-20", "80", "0", "100");
        QVERIFY(s.temp && s.hum);
        QCOMPARE((QList<double>{chart::yOf(30, *s.temp), chart::yOf(-20, *s.temp),
                                chart::yOf(50, *s.hum), chart::yOf(100, *s.hum)}),
                 (QList<double>{500, 0, 500, 1000}));

        const chart::Scale bad = chart::readScale("20", " 20 ", "a", "100");
        QVERIFY(!bad.temp && !bad.hum);  // equal ends: the chart window's note
        QVERIFY(bad.humNote.contains("不是数字"));

        QCOMPARE(chart::gridLabels(-20, 80),
                 (QStringList{"-10", " 0", " 10", " 20", " 30", " 40", " 50", " 60", " 70"}));
        QCOMPARE(chart::gridLabels(0, 1).at(2), QStringLiteral(" 0.3"));  // 0.1 added three times

        // The readout: the record at or left of the pointer, none outside the records.
        const std::tuple<int, double, int> cases[] = {
            {4, 0.0, 0},     {4, 499.9, 0}, {4, 500.0, 1},  {4, 1500.0, 3}, {4, 1999.9, 3},
            {4, 2000.0, -1}, {4, -1.0, -1}, {1, 1999.0, 0}, {0, 10.0, -1}};
        for (const auto &[count, x, index] : cases)
            QCOMPARE(chart::readoutIndex(count, x), qsizetype(index));
    }

    // A column of many points keeps its first, lowest, highest and last, in order. Anything but
    // a finite number breaks the curve; pieces within one column become the stretches they
    // cover there (overlapping ones joined), a lone point none. Points are "x:value", pieces
    // are separated by "|".
    void decimator_data() {
        QTest::addColumn<QString>("fed");
        QTest::addColumn<QString>("drawn");
        QTest::newRow("extremes in order")
            << "10:5 10.1:9 10.2:1 10.3:7 10.4:3 11:4 12:nan 13:6 14:8"
            << "10:5 10.1:9 10.2:1 10.4:3 11:4|13:6 14:8";
        QTest::newRow("pieces in a column")
            << "10:5 10.1:6 10.2:inf 10.3:1 10.4:2 10.5:nan 10.6:5.5 10.7:9 10.8:-inf 10.9:20 11:1"
            << "10:1 10:2|10:5 10:9|10.9:20 11:1";
        QTest::newRow("lone points") << "10:1 11:nan 12:2 13:nan 14:3 15:4"
                                     << "14:3 15:4";
    }
    void decimator() {
        QFETCH(QString, fed);
        QFETCH(QString, drawn);
        chart::Decimator d;
        for (const QString &point : fed.split(' '))
            d.add(point.section(':', 0, 0).toDouble(), point.section(':', 1).toDouble());
        d.finish();
        QStringList pieces;
        for (const auto &line : d.polylines()) {
            QStringList points;
            for (const QPointF &p : line)
                points << QString::number(p.x()) + ':' + QString::number(p.y());
            pieces << points.join(' ');
        }
        QCOMPARE(pieces.join('|'), drawn);
    }

    // ---- maintenance ----------------------------------------------------
    // The statement and the question of a deletion after a series of clicks:
    // +n ticks Check n, -n clears it; the texts are those of the boxes then.
    void deletionStatements() {
        const QString first = QStringLiteral("2010-01-01 00:00:00");
        const QString second = QStringLiteral("2019-12-31 23:59:59");
        const QString between =
            " AND datetime(mydate) BETWEEN '" + first + "' AND '" + second + "'";
        const QString before = " AND datetime(mydate) < '" + first + "'";
        const QString after = " AND datetime(mydate) > '" + second + "'";
        const struct {
            QList<int> clicks;
            QString condition;
            QString question;  // between 确认将删除数据库中 and 的温湿度数据？
        } cases[] = {{{}, "adr<>0", ""},
                     {{4, 1}, "adr = '1'" + before, "模块1在" + first + "之前"},
                     {{1, 2}, "adr<>0" + after, second + "之后"},
                     // Unticking the box that decided falls back to the one still ticked.
                     {{2, 1, -1}, "adr<>0" + after, second + "之后"},
                     {{1, 2, -2}, "adr<>0" + before, first + "之前"},
                     {{1, 2, 3, -3, -2}, "adr<>0" + before, first + "之前"},
                     {{1, 2, -1}, "adr<>0" + after, second + "之后"},
                     {{3}, "adr<>0" + between, first + "到" + second + "之间"},
                     {{4, -4, 3}, "adr<>0" + between, first + "到" + second + "之间"}};
        const DeletionConditions::Texts t{first, second, "1"};
        for (const auto &[clicks, condition, question] : cases) {
            DeletionConditions c;
            for (int click : clicks)
                QVERIFY(c.click(DeletionBox(qAbs(click) - 1), click > 0, t).isEmpty());
            QCOMPARE(c.statement(), "delete from th where " + condition);
            QCOMPARE(c.question(), "确认将删除数据库中" + question + "的温湿度数据？");
        }

        // Bad texts name their box and leave the condition as it was (the window's test
        // has the module fixed at the click).
        DeletionConditions c;
        QVERIFY(c.click(DeletionBox::Before, true, {first, "", "3"}).isEmpty());
        QVERIFY(
            c.click(DeletionBox::After, true, {"", "2019-12-31", ""}).contains("之后的数据删除"));
        QVERIFY(c.click(DeletionBox::Between, true, {"x", second, ""}).contains("之前的数据删除"));
        QCOMPARE(c.statement(), "delete from th where adr<>0" + before);
    }

    // The copy replaces one of the same second and holds every record; a failed copy leaves
    // the connection open.
    void backup() {
        Records r(false);
        r.db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
        const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
        QVERIFY(QDir(r.db.dir()).mkdir("backup"));
        QCOMPARE(backupDatabase(r.conn, r.db.path(), when).outcome, BackupResult::Done);
        r.db.addRecord(1, "2024-03-05 10:00:01", "31", "51");  // the connection is open again
        const BackupResult same = backupDatabase(r.conn, r.db.path(), when);  // replaced
        QCOMPARE(same.outcome, BackupResult::Done);
        QCOMPARE(same.target, QDir(r.db.dir()).filePath("backup/2024.03.05_14.07.09_mydb.db"));
        LiteConnection copy;
        QVERIFY(copy.Open(same.target));
        LiteStatement st = copy.prepare("select count(*) from th");
        QVERIFY(st.Step() && st.integer(0) == 2);

        // A directory where the copy should go: it can be neither removed nor written.
        QVERIFY(QDir(r.db.dir()).mkpath("backup/2024.03.05_14.07.10_mydb.db/x"));
        QCOMPARE(backupDatabase(r.conn, r.db.path(), when.addSecs(1)).outcome,
                 BackupResult::CopyFailed);
        r.db.addRecord(1, "2024-03-05 10:00:02", "32", "52");  // the connection is open again
    }

    // ---- the list ---------------------------------------------------------
    // Pages give exactly the rows of the full query in id order and with its texts, for
    // pages and slices of every size around the edges, with and without conditions. With an
    // index somebody added SQLite gives the rows of a slice in another order: the pass
    // notices and starts over with every slice ordered by id.
    void pagesAreTheFullQuery() {
        Records r;
        r.db.exec("create index bytemp on th(temp)");
        const QString byIndex = kBase + " AND temp in (30, 10, 20)";
        QVERIFY(everyRow(r.conn, byIndex) != everyRow(r.conn, byIndex + " order by id"));
        for (const char *condition :
             {"", " AND adr = 1", " AND temp >= 20 AND hum < 45", " AND temp in (30, 10, 20)"}) {
            const QString sql = kBase + condition;
            const QStringList all = everyRow(r.conn, sql + " order by id");
            for (int pageRows : {1, 4, 5, 64}) {
                for (qint64 sliceIds : {1, 3, 100}) {
                    const QByteArray what = sql.toUtf8() + " pages " +
                                            QByteArray::number(pageRows) + " slices " +
                                            QByteArray::number(sliceIds);
                    const ListResult l = r.list(sql, ListPass(pageRows), sliceIds);
                    QVERIFY2(l.error.isEmpty(), what.constData());
                    QCOMPARE(qsizetype(l.index.pageStarts.size()),
                             (all.size() + pageRows - 1) / pageRows);
                    QVERIFY2(pagedRows(r.conn, l.index) == all, what.constData());
                    QCOMPARE(l.stats.count, qint64(all.size()));
                }
            }
        }
        // Rows deleted after the count leave their places empty; nothing else moves.
        const ListResult l = r.list(kBase, ListPass(4), 7);
        const QStringList before = pagedRows(r.conn, l.index);
        r.db.exec("delete from th where id = 9");  // row 4: the first of page 1
        const QStringList after = pagedRows(r.conn, l.index);
        QCOMPARE(after.mid(0, 4), before.mid(0, 4));
        QCOMPARE(after.mid(8), before.mid(8));
    }

    // Ids anywhere in the 64-bit range, far apart, cost one look-up per gap, not a slice per
    // span. A query that cannot run says why; so does a missing file; no record is no error.
    void gapsInTheIdsAndFailures() {
        Records r(false);
        for (qint64 id : {qint64(-5), qint64(1), qint64(2), qint64(1000000000000),
                          std::numeric_limits<qint64>::max()})
            r.db.exec(QStringLiteral("insert into th values (%1, 1, '2024-03-05 10:00:00', 20, 50)")
                          .arg(id));
        PassControl control;
        ListPass pass(2);
        const ListResult l = runListPass(r.db.path(), kBase, pass, control, 2);
        QVERIFY(l.error.isEmpty());
        QCOMPARE(l.index.pageStarts,
                 (std::vector<qint64>{-5, 2, std::numeric_limits<qint64>::max()}));
        QCOMPARE(pagedRows(r.conn, l.index), everyRow(r.conn, kBase));
        QCOMPARE(control.progress(), 1000);

        QVERIFY(r.list("select * from nowhere").error.contains("nowhere"));
        QVERIFY(!runListPass(QDir(r.db.dir()).filePath("none.db"), kBase, pass, control)
                     .error.isEmpty());
        const ListResult none = r.list(kBase + " AND adr = 9");
        QVERIFY(none.error.isEmpty() && none.index.rows == 0 && none.firstTime.isEmpty());
    }

    // Between slices the file is free: another connection writes at once, without waiting.
    // What it writes has ids beyond the pass's end and waits for the next pass. The pass
    // hands on its growth slice by slice, and stops when cancelled.
    void slicesLetWritersInAndStopWhenCancelled() {
        Records r;
        LiteConnection writer;
        QVERIFY(writer.Open(r.db.path()));
        sqlite3_busy_timeout(writer.handle(), 0);
        PassControl control;
        WatchedPass pass(4);
        QList<qint64> grown;
        int writes = 0;
        pass.afterSlice = [&] {
            grown << pass.growth(0, 0).rows;
            writes += writer.Execute(
                "insert into th (adr, mydate, temp, hum) values (7, '2024-03-06 00:00:00', 1, 1)");
        };
        const qint64 before = everyRow(r.conn, kBase).size();
        QCOMPARE(runListPass(r.db.path(), kBase, pass, control, 10).index.rows, before);
        QCOMPARE(writes, grown.size());
        QVERIFY(grown.size() >= 4 && std::is_sorted(grown.begin(), grown.end()));
        QCOMPARE(grown.last(), before);

        WatchedPass stopped(4);
        PassControl stop;
        stopped.afterSlice = [&] { stop.cancel(); };
        const ListResult cancelled = runListPass(r.db.path(), kBase, stopped, stop, 10);
        QCOMPARE(cancelled.error, QString());  // a cancel is no failure
        QVERIFY(stopped.rows() < before + writes);
        QCOMPARE(cancelled.index.rows, 0);
    }

    // While another program holds the file the pass waits for it, but a cancel ends the wait
    // far sooner than the ten seconds the pass would wait otherwise.
    void aCancelEndsTheWaitForTheFile() {
        Records r;
        LiteConnection other;
        QVERIFY(r.db.holdExclusively(other));
        std::atomic<bool> ended{false};
        auto job = std::make_shared<ListPass>();
        BackgroundPass pass;
        pass.start(
            [&ended, job, path = r.db.path()](PassControl &control) {
                runListPass(path, kBase, *job, control);
                ended = true;
            },
            {});
        pass.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(ended.load(), 2000);
        QCOMPARE(job->rows(), 0);
        QVERIFY(other.Execute("COMMIT"));
    }

    // The model is a window onto the list: its rows are the records from its top on, while
    // the list grows as a pass hands it on and when scrolled anywhere.
    void modelWindow() {
        Records r;
        const QStringList all = everyRow(r.conn, kBase);
        const ListResult l = r.list(kBase, ListPass(8), 5);
        RecordModel model(r.conn);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto cell = [&](qint64 row, int c) {
            return model.index(int(row), c).data().toString();
        };
        PageIndex start = l.index;
        start.pageStarts.clear();
        start.rows = 0;
        model.setIndex(start);
        model.setWindow(0, 30);
        const std::vector<qint64> &starts = l.index.pageStarts;
        model.grow(20, starts[3] - 1, {starts.begin(), starts.begin() + 3});
        QCOMPARE(model.rowCount(), 20);
        QCOMPARE(cell(19, 1), all[19].section('|', 1, 1));
        model.grow(l.index.rows, l.index.lastId, {starts.begin() + 3, starts.end()});
        QCOMPARE(model.totalRows(), qint64(all.size()));
        QCOMPARE(model.rowCount(), 30);

        const std::pair<qint64, int> windows[] = {{10, 7}, {all.size() - 2, 7}, {-3, 5}, {9999, 4}};
        for (const auto &[top, count] : windows) {
            model.setWindow(top, count);
            const qint64 first = qBound<qint64>(0, top, all.size() - 1);
            QCOMPARE(model.windowTop(), first);
            QCOMPARE(joined(model.rowCount(), cell), all.mid(first, count));
        }
        QVERIFY(model.pagesRead() <= 16);  // pages are read as asked for, and kept
    }

    // ---- the chart --------------------------------------------------------
    // The one pass with buckets that double draws exactly the curves of feeding every record
    // to the decimator with the count known beforehand, whatever the shape of the data, the
    // width of the plot and the number of buckets; the readout reads the same times.
    void chartIsEveryRecordFed() {
        Records r(false);
        const char *shapes[] = {"ramp", "jumps", "flat", "gaps", "sawtooth", "none"};
        // Module s + 1 holds the ids from s * 3000 + 1 on, 3000 of them (module 6 none).
        r.db.exec(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < 2999), "
            "m(s) as (select 1 union all select s + 1 from m where s < 5) "
            "insert into th (adr, mydate, temp, hum) select s, '2024-03-05 ' || time(i, "
            "'unixepoch'), case s when 1 then i / 10.0 when 2 then i * 7919 % 1103 / 10.0 "
            "when 3 then 20 when 4 then case when i % 500 < 3 or i between 1201 and 1399 then "
            "case i % 2 when 1 then null else 'x' end else i / 10.0 end else i % 97 end, "
            "100 - i * 13 % 100 from m, n order by s, i");
        for (int s = 0; s <= 5; ++s) {
            for (const int limit : {1, 4, 37, 3000}) {
                const QString sql = kBase + QString::asprintf(" AND adr = %d AND id <= %d", s + 1,
                                                              s * 3000 + limit);
                for (const double width : {7.0, 333.5}) {
                    const Curves expected = everyRecordFed(r.conn, sql, width);
                    for (const qsizetype buckets : {2, 16, 0}) {
                        const QByteArray what =
                            QByteArray(shapes[s]) + " " + QByteArray::number(limit) + " wide " +
                            QByteArray::number(width) + " in " + QByteArray::number(buckets);
                        PassControl control;
                        const ChartData d =
                            loadChart(r.db.path(), sql, width, control, 500, buckets);
                        QVERIFY2(d.error.isEmpty(), what.constData());
                        QCOMPARE(d.count, expected.count);
                        QVERIFY2(d.temp.polylines() == expected.temp.polylines(), what.constData());
                        QVERIFY2(d.hum.polylines() == expected.hum.polylines(), what.constData());
                        for (qsizetype k : {qsizetype(0), d.count / 3, d.count - 1})
                            QCOMPARE(chartTimeAt(r.conn, d, k), expected.times.value(k));
                        QCOMPARE(chartTimeAt(r.conn, d, d.count), QString());
                        QCOMPARE(chartTimeAt(r.conn, d, -1), QString());
                    }
                }
            }
        }
        PassControl control;
        const ChartData bad = loadChart(r.db.path(), "select * from nowhere", 500, control);
        QVERIFY(bad.error.contains("nowhere") && bad.count == 0);
    }

    // ---- running passes ---------------------------------------------------
    // A new pass cancels the running one first; a pass that has claimed its end is past
    // cancelling and ends as completed (the windows' tests have the cancel at once).
    void replacedAndClaimedPasses() {
        std::atomic<bool> claimed{false}, release{false};
        auto hold = [&release] {
            while (!release.load()) QThread::yieldCurrentThread();
        };
        BackgroundPass pass;
        QList<bool> ends;
        auto done = [&ends](bool completed) { ends << completed; };
        pass.start([&](PassControl &) { hold(); }, done);
        pass.start(
            [&](PassControl &control) {
                claimed = control.claimCompletion();
                hold();
            },
            done);
        QCOMPARE(ends, QList<bool>{false});  // the first, replaced
        QTRY_VERIFY(claimed.load());
        pass.cancel();  // too late
        QVERIFY(pass.isRunning());
        release = true;
        QTRY_COMPARE(ends, (QList<bool>{false, true}));
        PassControl control;
        QVERIFY(control.cancel() && !control.claimCompletion());
    }

    // ---- selection --------------------------------------------------------
    // Clicks and moves select rows of the whole list, as a table does. Each
    // step is a word and a row: click, ctrl (Ctrl+click), shift (Shift+click),
    // move, shiftmove (Shift+move), all (all of that many rows).
    void rowSelection() {
        using R = std::vector<RowSelection::Range>;
        const std::pair<const char *, R> cases[] = {{"click5", {{5, 5}}},
                                                    {"click5 shift9", {{5, 9}}},
                                                    {"click9 shift5", {{5, 9}}},
                                                    {"click5 ctrl7 ctrl6", {{5, 7}}},
                                                    {"all10 ctrl4", {{0, 3}, {5, 9}}},
                                                    {"all10 ctrl0 ctrl9", {{1, 8}}},
                                                    {"click5 ctrl7 shift9", {{7, 9}}},
                                                    {"click5 shiftmove8 shiftmove3", {{3, 5}}},
                                                    {"click5 move1000000", {{1000000, 1000000}}}};
        for (const auto &[steps, expected] : cases) {
            RowSelection s;
            for (const QString &step : QString(steps).split(' ')) {
                const qsizetype digits = step.indexOf(QRegularExpression("[0-9]"));
                const QString what = step.left(digits);
                const qint64 row = step.mid(digits).toLongLong();
                if (what == "all")
                    s.selectAll(row);
                else if (what.endsWith("move"))
                    s.moveTo(row, what == "shiftmove");
                else
                    s.click(row, what == "ctrl", what == "shift");
            }
            QVERIFY2(s.ranges() == expected, steps);
        }
        RowSelection s;
        s.selectAll(100);
        s.click(50, true, false);
        QVERIFY(s.contains(49) && !s.contains(50) && s.contains(51));
        QCOMPARE(s.within(45, 55), (R{{45, 49}, {51, 55}}));
        QCOMPARE(s.current(), 50);
    }
};

QTEST_GUILESS_MAIN(TestRecordsCore)
#include "tst_records_core.moc"
