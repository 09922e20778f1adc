// The record query, its statistics and storage, the chart's numbers and the
// maintenance conditions, without any window.
#include "records/BackgroundPass.h"
#include "records/ChartGeometry.h"
#include "records/Maintenance.h"
#include "records/RecordCsv.h"
#include "records/RecordListPass.h"
#include "records/RecordLoader.h"
#include "records/RecordQuery.h"
#include "records/RecordStats.h"
#include "store/LiteConnection.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QTest>

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

    // A bad text names its box and leaves the statement as it was.
    void badTextsAreRefused() {
        const std::tuple<int, const char *, const char *> cases[] = {
            {1, "1a", "“只看模块”"},
            {1, "", "“只看模块”"},
            {1, "1 or 1=1", "“只看模块”"},
            {2, "2010-1-1", "“限制时间段，从”"},
            {3, "4O", "“温度”的上限"},
            {2, "2010-01-01 00:00:00' or '1'='1", "“限制时间段，从”"},
            {6, "0 or 1", "“温度”的下限"},
            {7, "", "“湿度”的上限"},
            {9, "x", "“湿度”的下限"}};
        for (const auto &[box, text, named] : cases) {
            RecordQuery q;
            clickAll(q, {box});
            const QString before = q.statement();
            RecordQuery::Texts t = defaultTexts();
            t.address = t.from = t.tempHigh = t.tempLow = t.humHigh = t.humLow = text;
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
        LiteConnection conn;
        TestDatabase db(conn);
        const QList<std::pair<QStringList, QString>> cases = {
            {{"10", "20", "30"}, "合计：3个记录 最高温度：30 最低温度：10 平均温度：20."},
            {{"30", "20", "10"}, "合计：3个记录 最高温度：30 最低温度：10 平均温度：20."},
            {{"25"}, "合计：1个记录 最高温度：25 最低温度：25 平均温度：25."},
            {{"23.4", "23.4", "23.5"},
             "合计：3个记录 最高温度：23.5 最低温度：23.4 平均温度：23.4"},
            {{"-3.25", "-3.25"}, "合计：2个记录 最高温度：-3.25 最低温度：-3.25 平均温度：-3.3"}};
        for (int i = 0; i < cases.size(); ++i) {
            for (const QString &temp : cases[i].first)
                db.addRecord(i + 1, "2024-03-05 10:00:00", temp, "50");
            const QString sql = kBase + QString(" AND adr = %1").arg(i + 1);
            const RecordLoad load = loadRecords(conn, sql);
            QVERIFY(load.ok());
            const QStringList captions = statisticsCaptions(load.stats);
            QCOMPARE(captions.mid(0, 4).join(' '), cases[i].second);
            QCOMPARE(captions.at(6), QStringLiteral("平均湿度：50."));
            PassControl control;
            ListPass pass;
            QCOMPARE(statisticsCaptions(runListPass(db.path(), sql, pass, control).stats),
                     captions);
        }
    }

    // Every kind of value a cell can hold comes back as the database holds it, in the list and
    // in the CSV file (quoted where needed).
    void cellsAndCsv() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.addRecord(3, "2024-03-05 14:07:09", "23.5", "61.2");
        db.addRecord(255, "2024-03-05 14:07:10", "-10", "100");
        db.addRecord(1, "2024-3-5 1:2:3", "abc", "1.25");
        db.exec("insert into th (adr, mydate, temp, hum) values (null, null, null, 5000.5)");
        db.exec("insert into th (adr, mydate, temp, hum) values ('x', 20240305, -0.5, 0.1)");
        db.exec("insert into th (adr, mydate, temp, hum) values (4, 'a,\"b\"', null, -0.5)");
        const RecordLoad load = loadRecords(conn, kBase);
        QVERIFY(load.ok());
        QStringList rows;
        for (qsizetype r = 0; r < load.table.size(); ++r) {
            QStringList cells;
            for (int c = 0; c < 4; ++c) cells << load.table.cell(r, c);
            rows << cells.join('|');
        }
        QCOMPARE(rows, (QStringList{"3|2024-03-05 14:07:09|23.5|61.2",
                                    "255|2024-03-05 14:07:10|-10|100", "1|2024-3-5 1:2:3|abc|1.25",
                                    "|||5000.5", "x|20240305|-0.5|0.1", "4|a,\"b\"||-0.5"}));
        // abc and the nulls are not numbers: the figures count the others.
        const QStringList figures = {"合计：6个记录",  "最高温度：23.5",   "最低温度：-10",
                                     "平均温度：4.3",  "最高湿度：5000.5", "最低湿度：-0.5",
                                     "平均湿度：860.4"};
        QCOMPARE(statisticsCaptions(load.stats), figures);
        PassControl control;
        ListPass pass(4);
        const ListResult listed = runListPass(db.path(), kBase, pass, control, 2);
        QCOMPARE(statisticsCaptions(listed.stats), figures);
        QCOMPARE(listed.firstTime + "|" + listed.lastTime,
                 QStringLiteral("2024-03-05 14:07:09|a,\"b\""));

        // The file holds the listed rows, read again a stretch at a time.
        const QString path = QDir(db.dir()).filePath("out.csv");
        const CsvResult written = exportCsv(db.path(), listed.index, path, control);
        QCOMPARE(written.error, QString());
        QCOMPARE(written.rows, 6);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray csv = "\xEF\xBB\xBF" + QStringLiteral("地址,采集时间,温度,湿度\r\n").toUtf8();
        for (const QString &row : rows.mid(0, 5)) csv += row.toUtf8().replace('|', ',') + "\r\n";
        QCOMPARE(f.readAll(), csv + "4,\"a,\"\"b\"\"\",,-0.5\r\n");
        QVERIFY(!exportCsv(db.path(), listed.index, QDir(db.dir()).filePath("no/such/dir/out.csv"),
                           control)
                     .error.isEmpty());
    }

    // ---- chart numbers --------------------------------------------------
    void scaleLabelsAndReadout() {
        const chart::Scale s = chart::readScale("-20", "80", "0", "100");
        QVERIFY(s.temp && s.hum);
        QCOMPARE(chart::yOf(30, *s.temp), 500.0);
        QCOMPARE(chart::yOf(50, *s.hum), 500.0);
        QCOMPARE(chart::yOf(-20, *s.temp), 0.0);
        QCOMPARE(chart::yOf(100, *s.hum), 1000.0);

        const chart::Scale bad = chart::readScale("20", " 20 ", "a", "100");
        QVERIFY(!bad.temp && !bad.hum);  // equal ends: the chart window's note
        QVERIFY(bad.humNote.contains("不是数字"));

        QCOMPARE(chart::gridLabels(0, 40),
                 (QStringList{" 4", " 8", " 12", " 16", " 20", " 24", " 28", " 32", " 36"}));
        QCOMPARE(chart::gridLabels(-20, 80),
                 (QStringList{"-10", " 0", " 10", " 20", " 30", " 40", " 50", " 60", " 70"}));
        QCOMPARE(chart::gridLabels(0, 1).at(2), QStringLiteral(" 0.3"));  // 0.1 added three times
        QCOMPARE(chart::temperatureCornerText(" 0 "), QStringLiteral("0 温度(C)"));
        QCOMPARE(chart::humidityCornerText("0"), QStringLiteral("湿度(%) 0"));

        // The readout: the record at or left of the pointer, none outside the records.
        const std::tuple<int, double, int> cases[] = {
            {4, 0.0, 0},     {4, 499.9, 0}, {4, 500.0, 1},  {4, 1500.0, 3}, {4, 1999.9, 3},
            {4, 2000.0, -1}, {4, -1.0, -1}, {1, 1999.0, 0}, {0, 10.0, -1}};
        for (const auto &[count, x, index] : cases)
            QCOMPARE(chart::readoutIndex(count, x), qsizetype(index));
    }

    // A column of many points keeps its first, lowest, highest and last, in order.
    void decimatorKeepsExtremesInOrder() {
        chart::Decimator d;
        const std::pair<double, double> points[] = {
            {10.0, 5}, {10.1, 9},       {10.2, 1}, {10.3, 7}, {10.4, 3},
            {11.0, 4}, {12.0, qQNaN()}, {13.0, 6}, {14.0, 8}};  // NaN breaks the curve
        for (const auto &[x, v] : points) d.add(x, v);
        d.finish();
        QCOMPARE(d.polylines().size(), size_t(2));
        const std::vector<QPointF> first = {{10.0, 5}, {10.1, 9}, {10.2, 1}, {10.4, 3}, {11.0, 4}};
        QCOMPARE(d.polylines()[0], first);
        QCOMPARE(d.segmentCount(), 4 + 1);
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

        // The module named is the one the statement uses: the one fixed at
        // the click, whatever the box holds later. Bad texts name their box
        // and leave the condition as it was.
        DeletionConditions c;
        QVERIFY(c.click(DeletionBox::Module, true, {"", "", " 2 "}).isEmpty());
        QVERIFY(c.click(DeletionBox::Before, true, {first, "", "3"}).isEmpty());
        QVERIFY(c.click(DeletionBox::Module, true, {"", "", "2' or '1'='1"})
                    .contains("以上操作只对模块"));
        QVERIFY(c.click(DeletionBox::After, true, {"", "2019-12-31", ""})
                    .contains("将此时间之后的数据删除"));
        QVERIFY(c.click(DeletionBox::Between, true, {"x", second, ""})
                    .contains("将此时间之前的数据删除"));
        QCOMPARE(c.statement(), "delete from th where adr = '2'" + before);
        QCOMPARE(c.question(), "确认将删除数据库中模块2在" + first + "之前的温湿度数据？");
    }

    // The copy replaces one of the same second and holds every record; a failed copy leaves
    // the connection open.
    void backup() {
        QCOMPARE(backupFileName(QDateTime(QDate(2024, 12, 31), QTime(23, 0, 0))),
                 QStringLiteral("2024.12.31_23.00.00_mydb.db"));
        LiteConnection conn;
        TestDatabase db(conn);
        db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
        const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
        QVERIFY(QDir(db.dir()).mkdir("backup"));
        QCOMPARE(backupDatabase(conn, db.path(), when).outcome, BackupResult::Done);
        db.addRecord(1, "2024-03-05 10:00:01", "31", "51");      // the connection is open again
        BackupResult r = backupDatabase(conn, db.path(), when);  // the same second: replaced
        QCOMPARE(r.outcome, BackupResult::Done);
        QCOMPARE(r.target, QDir(db.dir()).filePath("backup/2024.03.05_14.07.09_mydb.db"));
        LiteConnection copy;
        QVERIFY(copy.Open(r.target));
        LiteStatement st = copy.prepare("select count(*) from th");
        QVERIFY(st.Step());
        QCOMPARE(st.integer(0), 2);

        // A directory where the copy should go: it can be neither removed nor written.
        QVERIFY(QDir(db.dir()).mkpath("backup/2024.03.05_14.07.10_mydb.db/x"));
        r = backupDatabase(conn, db.path(), when.addSecs(1));
        QCOMPARE(r.outcome, BackupResult::CopyFailed);
        db.addRecord(1, "2024-03-05 10:00:02", "32", "52");  // the connection is open again
    }
};

QTEST_GUILESS_MAIN(TestRecordsCore)
#include "tst_records_core.moc"
