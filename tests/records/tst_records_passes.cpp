// The passes that read the records in slices on a thread of their own: the
// list's pages and statistics, the chart's curves, the export, and what runs
// them. Each is held against reading the whole query in one go.
#include "records/BackgroundPass.h"
#include "records/ChartData.h"
#include "records/RecordCsv.h"
#include "records/RecordListPass.h"
#include "records/RecordLoader.h"
#include "records/RecordModel.h"
#include "records/RowSelection.h"
#include "store/LiteConnection.h"
#include "store/ValueText.h"
#include "support/TestDatabase.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <cmath>
#include <limits>

namespace {
const QString kBase = QStringLiteral("select * from th where id<>0");

// Every row of a query as the list shows it, read in one go: "adr|time|temp|hum".
QStringList everyRow(LiteConnection &conn, const QString &sql) {
    const RecordLoad load = loadRecords(conn, sql);
    if (!load.ok())
        qWarning("%s: %s", qPrintable(sql), qPrintable(load.error));
    QStringList rows;
    for (qsizetype r = 0; r < load.table.size(); ++r) {
        QStringList cells;
        for (int c = 0; c < RecordTable::ColumnCount; ++c) cells << load.table.cell(r, c);
        rows << cells.join('|');
    }
    return rows;
}

// The same rows read page by page through an index.
QStringList pagedRows(LiteConnection &conn, const RecordIndex &index) {
    RecordPages pages(conn);
    pages.setIndex(index);
    QStringList rows;
    for (qint64 r = 0; r < pages.rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < RecordTable::ColumnCount; ++c) cells << pages.cell(r, c);
        rows << cells.join('|');
    }
    return rows;
}

// Records of three modules with some values that are no numbers, and gaps in the ids.
void addMixedRecords(LiteConnection &conn, TestDatabase &db) {
    LiteTransaction tx(conn);
    for (int i = 0; i < 40; ++i) {
        const QString temp = i % 11 == 5 ? QStringLiteral("x") : QString::number(10 + (i * 7) % 23);
        db.addRecord(1 + i % 3, QStringLiteral("2024-03-05 10:%1:00").arg(i, 2, 10, QChar('0')),
                     temp, QString::number(40 + i % 9) + ".5");
    }
    db.exec("insert into th (adr, mydate, temp, hum) values (2, null, null, 'wet')");
    QVERIFY(tx.commit());
    db.exec("delete from th where id in (5, 6, 7, 20)");
}

// The curves as a chart that knows the count beforehand draws them: every row of the
// query fed to the decimator at x = k * width / count.
struct Curves {
    qsizetype count = 0;
    chart::Decimator temp, hum;
    QStringList times;
};
Curves everyRecordFed(LiteConnection &conn, const QString &sql, double width) {
    auto numberAt = [](const LiteStatement &st, int position) {
        switch (st.columnType(position)) {
            case LiteStatement::Type::Real:
                return st.real(position);
            case LiteStatement::Type::Integer:
                return double(st.integer(position));
            case LiteStatement::Type::Text:
                if (const auto v = parseDecimal(st.text(position)))
                    return *v;
                [[fallthrough]];
            default:
                return std::numeric_limits<double>::quiet_NaN();
        }
    };
    Curves c;
    c.count = everyRow(conn, sql).size();
    LiteStatement st = conn.prepare(sql);
    const double step = width / double(c.count);
    qsizetype k = 0;
    st.Step();
    while (!st.done()) {
        c.temp.add(double(k) * step, numberAt(st, 3));
        c.hum.add(double(k) * step, numberAt(st, 4));
        c.times << cellText(st.value(2));
        ++k;
        st.Step();
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
        if (afterSlice)
            afterSlice();
    }
};
}  // namespace

class TestRecordsPasses : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---- the list ---------------------------------------------------------
    // Pages give exactly the rows of the full query, in its order and with its texts, for
    // pages and slices of every size around the edges, with and without conditions.
    void pagesAreTheFullQuery() {
        LiteConnection conn;
        TestDatabase db(conn);
        addMixedRecords(conn, db);
        const char *conditions[] = {"", " AND adr = 1", " AND temp >= 20 AND hum < 45",
                                    " AND adr = 9"};
        for (const char *condition : conditions) {
            const QString sql = kBase + condition;
            const QStringList all = everyRow(conn, sql);
            for (int pageRows : {1, 4, 5, 64}) {
                for (qint64 sliceIds : {1, 3, 100}) {
                    const QByteArray what = sql.toUtf8() + " pages of " +
                                            QByteArray::number(pageRows) + ", slices of " +
                                            QByteArray::number(sliceIds);
                    PassControl control;
                    ListPass pass(pageRows);
                    const ListResult r = runListPass(db.path(), sql, pass, control, sliceIds);
                    QVERIFY2(r.error.isEmpty(), what.constData());
                    QCOMPARE(r.index.rows, qint64(all.size()));
                    QCOMPARE(qsizetype(r.index.pageStarts.size()),
                             (all.size() + pageRows - 1) / pageRows);
                    QVERIFY2(pagedRows(conn, r.index) == all, what.constData());
                    QCOMPARE(r.stats.count, qint64(all.size()));
                }
            }
        }
        // Rows deleted after the count leave their places empty; nothing else moves.
        PassControl control;
        ListPass pass(4);
        const ListResult r = runListPass(db.path(), kBase, pass, control, 7);
        const QStringList before = pagedRows(conn, r.index);
        db.exec("delete from th where id = 9");  // row 4: the first of page 1
        QStringList after = pagedRows(conn, r.index);
        QCOMPARE(after.mid(0, 4), before.mid(0, 4));
        QCOMPARE(after.mid(8), before.mid(8));
    }

    // With an index somebody added, SQLite gives the rows of a slice in another order: the
    // pass notices, starts over with every slice ordered by id, and still lists by id.
    void idOrderEvenWithAnotherIndex() {
        LiteConnection conn;
        TestDatabase db(conn);
        addMixedRecords(conn, db);
        db.exec("create index bytemp on th(temp)");
        const QString sql = kBase + " AND temp in (30, 10, 20)";
        QVERIFY(everyRow(conn, sql) != everyRow(conn, sql + " order by id"));  // the index decides
        PassControl control;
        WatchedPass pass(4);
        const ListResult r = runListPass(db.path(), sql, pass, control, 1000);
        QVERIFY(r.error.isEmpty());
        QCOMPARE(pagedRows(conn, r.index), everyRow(conn, sql + " order by id"));
        QCOMPARE(pass.growth(0, 0).generation, 1);  // started over once
        QCOMPARE(pass.growth(1, 0).rows, r.index.rows);
    }

    // Between slices the file is free: another connection writes at once, without waiting.
    // What it writes has ids beyond the pass's end and waits for the next pass. The pass
    // hands on its growth slice by slice, and stops when cancelled.
    void slicesLetWritersIn() {
        LiteConnection conn;
        TestDatabase db(conn);
        addMixedRecords(conn, db);
        LiteConnection writer;
        QVERIFY(writer.Open(db.path()));
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
        const qint64 before = everyRow(conn, kBase).size();
        const ListResult r = runListPass(db.path(), kBase, pass, control, 10);
        QCOMPARE(r.index.rows, before);
        QCOMPARE(writes, grown.size());
        QVERIFY(grown.size() >= 4);
        QVERIFY(std::is_sorted(grown.begin(), grown.end()));
        QCOMPARE(grown.last(), before);

        WatchedPass stopped(4);
        PassControl stop;
        stopped.afterSlice = [&] { stop.cancel(); };
        const ListResult cancelled = runListPass(db.path(), kBase, stopped, stop, 10);
        QCOMPARE(cancelled.error, QString());  // a cancel is no failure
        QVERIFY(stopped.rows() < before + writes);
        QCOMPARE(cancelled.index.rows, 0);
    }

    // While another program holds the file the pass waits for it, but a cancel ends the wait.
    void aCancelEndsTheWaitForTheFile() {
        LiteConnection conn;
        TestDatabase db(conn);
        addMixedRecords(conn, db);
        LiteConnection other;
        QVERIFY(other.Open(db.path()));
        QVERIFY(other.Execute("BEGIN EXCLUSIVE"));
        std::atomic<bool> ended{false};
        auto job = std::make_shared<ListPass>();
        BackgroundPass pass;
        const QString path = db.path();
        pass.start(
            [&ended, job, path](PassControl &control) {
                runListPass(path, kBase, *job, control);
                ended = true;
            },
            {});
        pass.cancel();
        // Far sooner than the ten seconds the pass would wait for the file otherwise.
        QTRY_VERIFY_WITH_TIMEOUT(ended.load(), 2000);
        QCOMPARE(job->rows(), 0);
        QVERIFY(other.Execute("COMMIT"));
    }

    // Ids far apart cost one look-up per gap, not a slice per span.
    void gapsInTheIds() {
        LiteConnection conn;
        TestDatabase db(conn);
        for (qint64 id : {qint64(-5), qint64(1), qint64(2), qint64(1000000000000),
                          std::numeric_limits<qint64>::max()})
            db.exec(QStringLiteral("insert into th values (%1, 1, '2024-03-05 10:00:00', 20, 50)")
                        .arg(id));
        PassControl control;
        ListPass pass(2);
        const ListResult r = runListPass(db.path(), kBase, pass, control, 2);
        QVERIFY(r.error.isEmpty());
        QCOMPARE(r.index.rows, 5);
        QCOMPARE(r.index.pageStarts,
                 (std::vector<qint64>{-5, 2, std::numeric_limits<qint64>::max()}));
        QCOMPARE(pagedRows(conn, r.index), everyRow(conn, kBase));
        QCOMPARE(control.progress(), 1000);

        // A query that cannot run says why; so does an empty file.
        ListPass none;
        QVERIFY(runListPass(db.path(), "select * from nowhere", none, control)
                    .error.contains("nowhere"));
        QVERIFY(
            !runListPass(QDir(db.dir()).filePath("none.db"), kBase, none, control).error.isEmpty());
    }

    // The model is a window onto the list: its rows are the records from its top on.
    void modelWindow() {
        LiteConnection conn;
        TestDatabase db(conn);
        addMixedRecords(conn, db);
        const QStringList all = everyRow(conn, kBase);
        PassControl control;
        ListPass pass(8);
        const ListResult r = runListPass(db.path(), kBase, pass, control, 5);

        RecordModel model(conn);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Growing as a pass would hand it on: first three pages, then the rest.
        RecordIndex start;
        start.statement = kBase;
        start.idColumn = r.index.idColumn;
        start.pageRows = 8;
        model.setIndex(start);
        model.setWindow(0, 30);
        const std::vector<qint64> &starts = r.index.pageStarts;
        model.grow(20, starts[3] - 1, {starts.begin(), starts.begin() + 3});
        QCOMPARE(model.rowCount(), 20);
        QCOMPARE(model.index(19, 1).data().toString(), all[19].section('|', 1, 1));
        model.grow(r.index.rows, r.index.lastId, {starts.begin() + 3, starts.end()});
        QCOMPARE(model.totalRows(), qint64(all.size()));
        QCOMPARE(model.rowCount(), 30);

        const std::pair<qint64, int> windows[] = {{10, 7}, {all.size() - 2, 7}, {-3, 5}, {9999, 4}};
        for (const auto &[top, count] : windows) {
            model.setWindow(top, count);
            const qint64 first = qBound<qint64>(0, top, all.size() - 1);
            QCOMPARE(model.windowTop(), first);
            QCOMPARE(model.rowCount(), int(qMin<qint64>(count, all.size() - first)));
            for (int row = 0; row < model.rowCount(); ++row) {
                QStringList cells;
                for (int c = 0; c < 4; ++c) cells << model.index(row, c).data().toString();
                QCOMPARE(cells.join('|'), all[first + row]);
            }
        }
        QVERIFY(model.pages().pagesRead() <= 16);  // pages are read as asked for, and kept
    }

    // ---- the chart --------------------------------------------------------
    // The one pass with buckets that double draws exactly the curves of feeding every record
    // to the decimator with the count known beforehand, whatever the shape of the data, the
    // width of the plot and the number of buckets; the readout reads the same times.
    void chartIsEveryRecordFed() {
        LiteConnection conn;
        TestDatabase db(conn);
        QRandomGenerator rng(11);
        const QString shapes[] = {"ramp", "walk", "flat", "gaps", "sawtooth"};
        for (int s = 0; s < 5; ++s) {
            LiteTransaction tx(conn);
            double v = 50;
            for (int i = 0; i < 3000; ++i) {
                double t = i * 0.1;
                if (s == 1)
                    t = v = qBound(-5.0, v + (rng.generateDouble() - 0.5) * 6, 105.0);
                if (s == 2)
                    t = 20;
                if (s == 4)
                    t = i % 97;
                QString temp = QString::number(std::round(t * 10) / 10);
                if (s == 3 && (i % 500 < 3 || (i > 1200 && i < 1400)))
                    temp = i % 2 ? "null" : "'x'";
                db.exec(QStringLiteral("insert into th (adr, mydate, temp, hum) values "
                                       "(%1, '2024-03-05 %2', %3, %4)")
                            .arg(s + 1)
                            .arg(QTime(0, 0).addSecs(i).toString("HH:mm:ss"), temp)
                            .arg(100 - (i * 13) % 100));
            }
            QVERIFY(tx.commit());
        }
        for (int s = 0; s <= 5; ++s) {
            // Module 6 does not exist: no record at all.
            const qint64 firstId =
                db.scalar(QStringLiteral("select min(id) from th where adr = %1").arg(s + 1))
                    .toLongLong();
            for (const qint64 limit : {1, 4, 37, 3000}) {
                const QString sql =
                    kBase +
                    QStringLiteral(" AND adr = %1 AND id < %2").arg(s + 1).arg(firstId + limit);
                for (const double width : {7.0, 333.5}) {
                    const Curves expected = everyRecordFed(conn, sql, width);
                    for (const qsizetype buckets : {2, 16, 0}) {
                        const QByteArray what = shapes[qMin(s, 4)].toUtf8() + " " +
                                                QByteArray::number(limit) + " wide " +
                                                QByteArray::number(width) + " in " +
                                                QByteArray::number(buckets);
                        PassControl control;
                        const ChartData d = loadChart(db.path(), sql, width, control, 500, buckets);
                        QVERIFY2(d.error.isEmpty(), what.constData());
                        QCOMPARE(d.count, expected.count);
                        QVERIFY2(d.temp.polylines() == expected.temp.polylines(), what.constData());
                        QVERIFY2(d.hum.polylines() == expected.hum.polylines(), what.constData());
                        for (qsizetype k : {qsizetype(0), d.count / 3, d.count - 1})
                            QCOMPARE(chartTimeAt(conn, d, k), expected.times.value(k));
                        QCOMPARE(chartTimeAt(conn, d, d.count), QString());
                    }
                }
            }
        }
    }

    // Four records (an hour, then a second apart) lie evenly by position; one record draws
    // no segment; 40000 records are thinned to at most four points per pixel column.
    void chartData() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
        db.addRecord(1, "2024-03-05 11:00:00", "31", "51");
        db.addRecord(1, "2024-03-05 11:00:01", "32", "52");
        db.addRecord(1, "2024-03-05 12:00:00", "33", "53");
        db.addRecord(2, "2024-03-05 13:00:00", "30", "50");
        db.exec(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < 39999) "
            "insert into th (adr, mydate, temp, hum) "
            "select 3, '2024-03-05 10:00:00', i % 100, 50 from n");
        PassControl control;
        const ChartData d = loadChart(db.path(), kBase + " AND adr = 1", 2000, control);
        QCOMPARE(d.count, 4);
        QCOMPARE(d.temp.segmentCount(), 3);
        QCOMPARE(d.hum.segmentCount(), 3);
        const std::vector<QPointF> expected = {{0, 30}, {500, 31}, {1000, 32}, {1500, 33}};
        QCOMPARE(d.temp.polylines().front(), expected);
        QCOMPARE(chartTimeAt(conn, d, 3), QStringLiteral("2024-03-05 12:00:00"));
        QCOMPARE(chartTimeAt(conn, d, -1), QString());

        const ChartData one = loadChart(db.path(), kBase + " AND adr = 2", 800, control);
        QCOMPARE(one.count, 1);
        QCOMPARE(one.temp.segmentCount(), 0);
        QCOMPARE(chartTimeAt(conn, one, 0), QStringLiteral("2024-03-05 13:00:00"));

        const ChartData many = loadChart(db.path(), kBase + " AND adr = 3", 500, control);
        QCOMPARE(many.count, 40000);
        QVERIFY(many.temp.segmentCount() <= 4 * 500);
        QCOMPARE(chartTimeAt(conn, many, 39999), QStringLiteral("2024-03-05 10:00:00"));

        const ChartData bad = loadChart(db.path(), "select * from nowhere", 500, control);
        QVERIFY(bad.error.contains("nowhere"));
        QCOMPARE(bad.count, 0);
    }

    // ---- the export -------------------------------------------------------
    // A cancelled export leaves nothing under the chosen name (a file already there stays
    // as it was) and nothing beside it.
    void cancelledExportLeavesNoFile() {
        LiteConnection conn;
        TestDatabase db(conn);
        addMixedRecords(conn, db);
        PassControl control;
        ListPass pass;
        const ListResult listed = runListPass(db.path(), kBase, pass, control);
        const QDir dir(db.dir());
        const QStringList before = dir.entryList(QDir::Files);
        const QString path = dir.filePath("new.csv");
        const QString old = dir.filePath("old.csv");
        QFile f(old);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("kept");
        f.close();
        PassControl cancelled;
        QVERIFY(cancelled.cancel());
        for (const QString &target : {path, old}) {
            const CsvResult r = exportCsv(db.path(), listed.index, target, cancelled);
            QVERIFY(r.cancelled);
            QCOMPARE(r.error, QString());
        }
        QVERIFY(!QFile::exists(path));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("kept"));
        QCOMPARE(dir.entryList(QDir::Files), before + QStringList{"old.csv"});

        // Once the end is claimed, a cancel comes too late.
        PassControl claimed;
        QVERIFY(claimed.claimCompletion());
        QVERIFY(!claimed.cancel());
        QVERIFY(!claimed.cancelled());
        QVERIFY(cancelled.cancel());
        QVERIFY(!cancelled.claimCompletion());
    }

    // ---- running passes ---------------------------------------------------
    // A cancel ends the pass for the window at once (its Done says so) while its thread
    // winds down; a pass that claimed its end ends as completed; a new pass cancels the
    // running one first.
    void backgroundPasses() {
        // Passes that wait until the test lets them end.
        std::atomic<bool> release[3] = {false, false, false};
        auto held = [&release](int i) {
            return [&release, i](PassControl &) {
                while (!release[i].load()) QThread::yieldCurrentThread();
            };
        };
        BackgroundPass pass;
        QList<bool> ends;
        auto done = [&ends](bool completed) { ends << completed; };
        QList<bool> running;
        connect(&pass, &BackgroundPass::runningChanged, this, [&running](bool r) { running << r; });

        pass.start(held(0), done);
        QVERIFY(pass.isRunning());
        pass.cancel();
        QCOMPARE(ends, QList<bool>{false});
        QVERIFY(!pass.isRunning());
        release[0] = true;

        std::atomic<bool> claimed{false};
        pass.start(
            [&](PassControl &control) {
                claimed = control.claimCompletion();
                while (!release[1].load()) QThread::yieldCurrentThread();
            },
            done);
        QTRY_VERIFY(claimed.load());
        pass.cancel();  // too late: the pass has claimed its end
        QVERIFY(pass.isRunning());
        release[1] = true;
        QTRY_COMPARE(ends, (QList<bool>{false, true}));

        pass.start(held(2), done);
        pass.start([](PassControl &control) { control.setProgress(1000); }, done);
        QCOMPARE(ends.size(), 3);
        QCOMPARE(ends.last(), false);  // the first, replaced
        release[2] = true;
        QTRY_COMPARE(ends.size(), 4);
        QCOMPARE(ends.last(), true);
        QCOMPARE(pass.startedCount(), 4);
        QCOMPARE(running.first(), true);
        QCOMPARE(running.last(), false);

        const std::tuple<bool, bool, RefreshAction> rules[] = {
            {false, false, RefreshAction::Start},
            {false, true, RefreshAction::Start},
            {true, false, RefreshAction::Replace},
            {true, true, RefreshAction::Skip}};
        for (const auto &[runningNow, byTimer, action] : rules)
            QCOMPARE(refreshAction(runningNow, byTimer), action);
    }

    // ---- selection --------------------------------------------------------
    // Clicks and moves select rows of the whole list, as a table does.
    void rowSelection() {
        struct Step {
            char what;  // c: click, m: move, a: all
            qint64 row;
            bool ctrl, shift;
        };
        using R = std::vector<RowSelection::Range>;
        const std::pair<std::vector<Step>, R> cases[] = {
            {{{'c', 5, false, false}}, {{5, 5}}},
            {{{'c', 5, false, false}, {'c', 9, false, true}}, {{5, 9}}},
            {{{'c', 9, false, false}, {'c', 5, false, true}}, {{5, 9}}},
            {{{'c', 5, false, false}, {'c', 7, true, false}, {'c', 6, true, false}}, {{5, 7}}},
            {{{'a', 10, false, false}, {'c', 4, true, false}}, {{0, 3}, {5, 9}}},
            {{{'a', 10, false, false}, {'c', 0, true, false}, {'c', 9, true, false}}, {{1, 8}}},
            {{{'c', 5, false, false}, {'c', 7, true, false}, {'c', 9, false, true}}, {{7, 9}}},
            {{{'c', 5, false, false}, {'m', 8, false, true}, {'m', 3, false, true}}, {{3, 5}}},
            {{{'c', 5, false, false}, {'m', 1000000, false, false}}, {{1000000, 1000000}}},
        };
        for (const auto &[steps, expected] : cases) {
            RowSelection s;
            for (const Step &step : steps) {
                if (step.what == 'c')
                    s.click(step.row, step.ctrl, step.shift);
                else if (step.what == 'm')
                    s.moveTo(step.row, step.shift);
                else
                    s.selectAll(step.row);
            }
            QCOMPARE(s.ranges(), expected);
        }
        RowSelection s;
        s.selectAll(100);
        s.click(50, true, false);
        QVERIFY(s.contains(49) && !s.contains(50) && s.contains(51));
        QCOMPARE(s.within(45, 55), (R{{45, 49}, {51, 55}}));
        QCOMPARE(s.current(), 50);
    }
};

QTEST_GUILESS_MAIN(TestRecordsPasses)
#include "tst_records_passes.moc"
