// The record query, its statistics and storage, the chart's numbers and the
// maintenance conditions, without any window.
#include "records/ChartData.h"
#include "records/ChartGeometry.h"
#include "records/Maintenance.h"
#include "records/RecordCsv.h"
#include "records/RecordLoader.h"
#include "records/RecordModel.h"
#include "records/RecordQuery.h"
#include "records/RecordStats.h"
#include "store/LiteConnection.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimeZone>

namespace {
const QString kBase = QStringLiteral("select * from th where id<>0");

RecordQuery::Texts defaultTexts() {
    return {"1", "2010-01-01 00:00:00", "2019-12-31 23:59:59", "40.0", "-40.0", "99.9", "0"};
}

void addRecords(TestDatabase &db, const QStringList &temps) {
    int second = 0;
    for (const QString &t : temps)
        db.addRecord(1,
                     QStringLiteral("2024-03-05 10:00:%1").arg(second++, 2, 10, QLatin1Char('0')),
                     t, "50");
}
}  // namespace

class TestRecordsCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---- statement text -------------------------------------------------
    void workedExampleWithSixConditions() {
        RecordQuery q;
        for (int box : {1, 2, 3, 4, 8, 10}) QVERIFY(q.click(box, true, defaultTexts()).isEmpty());
        QCOMPARE(q.statement(),
                 kBase + " AND adr = 1" +
                     " AND datetime(mydate) >= '2010-01-01 00:00:00' AND datetime(mydate) <= "
                     "'2019-12-31 23:59:59'" +
                     " AND temp < 40.0 AND temp >= -40.0 AND hum < 99.9 AND hum >= 0");
    }

    void pairsShareOneFragment() {
        RecordQuery q;
        q.click(3, true, defaultTexts());
        q.click(5, true, defaultTexts());
        QCOMPARE(q.statement(), kBase + " AND temp <= 40.0");
        q.click(3, false, defaultTexts());  // clears the shared fragment though Check5 shows ticked
        QCOMPARE(q.statement(), kBase);

        q.click(9, true, defaultTexts());
        q.click(10, true, defaultTexts());
        QCOMPARE(q.fragment(RecordQuery::HumLow), QStringLiteral(" AND hum >= 0"));
        q.click(7, true, defaultTexts());
        q.click(8, true, defaultTexts());
        QCOMPARE(q.fragment(RecordQuery::HumHigh), QStringLiteral(" AND hum < 99.9"));
        q.click(6, true, defaultTexts());
        QCOMPARE(q.statement(), kBase + " AND temp > -40.0 AND hum < 99.9 AND hum >= 0");
    }

    void fragmentKeepsTheTextOfItsClick() {
        RecordQuery q;
        RecordQuery::Texts t = defaultTexts();
        q.click(3, true, t);
        t.tempHigh = "10";
        QCOMPARE(q.statement(), kBase + " AND temp < 40.0");
        q.click(3, false, t);
        q.click(3, true, t);
        QCOMPARE(q.statement(), kBase + " AND temp < 10");
    }

    void addressWithBlanks() {
        RecordQuery q;
        RecordQuery::Texts t = defaultTexts();
        t.address = "  3  ";
        q.click(1, true, t);
        QCOMPARE(q.statement(), kBase + " AND adr = 3");
    }

    void badTextsAreRefused_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("named");
        QTest::newRow("letter in address") << 1 << "1a"
                                           << "Text1";
        QTest::newRow("empty address") << 1 << ""
                                       << "Text1";
        QTest::newRow("sql in address") << 1 << "1 or 1=1"
                                        << "Text1";
        QTest::newRow("quote in time") << 2 << "2010-01-01 00:00:00' or '1'='1"
                                       << "Text2";
        QTest::newRow("short time") << 2 << "2010-1-1"
                                    << "Text2";
        QTest::newRow("letter in bound") << 3 << "4O"
                                         << "Text4";
        QTest::newRow("expression bound") << 6 << "0 or 1"
                                          << "Text5";
        QTest::newRow("empty bound") << 7 << ""
                                     << "Text6";
        QTest::newRow("hum low") << 9 << "x"
                                 << "Text7";
    }
    void badTextsAreRefused() {
        QFETCH(int, box);
        QFETCH(QString, text);
        QFETCH(QString, named);
        RecordQuery q;
        q.click(box, true, defaultTexts());
        const QString before = q.statement();
        RecordQuery::Texts t = defaultTexts();
        t.address = t.from = t.tempHigh = t.tempLow = t.humHigh = t.humLow = text;
        const QString error = q.click(box, true, t);
        QVERIFY(error.contains(named));
        QCOMPARE(q.statement(), before);
    }

    void refreshPeriods_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("ms");
        QTest::newRow("default") << "60" << 60000;
        QTest::newRow("half second") << "0.5" << 500;
        QTest::newRow("blanks") << " 5 " << 5000;
        QTest::newRow("half ms to even down") << "0.0025" << 2;
        QTest::newRow("half ms to even up") << "0.0035" << 4;
        QTest::newRow("zero") << "0" << -1;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("letters") << "abc" << -1;
        QTest::newRow("too long") << "3000000" << -1;
    }
    void refreshPeriods() {
        QFETCH(QString, text);
        QFETCH(int, ms);
        QCOMPARE(periodMilliseconds(text).value_or(-1), ms);
    }

    // ---- quick periods --------------------------------------------------
    void quickPeriods_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("period");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        const auto utc = [](const char *s) {
            return QDateTime::fromString(s, Qt::ISODate).toUTC();
        };
        // 15:59:59 UTC is 23:59:59 of the same day in record time, 16:00 the next day.
        QTest::newRow("day last second")
            << utc("2024-03-05T15:59:59Z") << 0 << "2024-03-05 00:00:00"
            << "2024-03-05 23:59:59";
        QTest::newRow("day first second")
            << utc("2024-03-05T16:00:00Z") << 0 << "2024-03-06 00:00:00"
            << "2024-03-06 23:59:59";
        // 2024-03-10 is a Sunday, 2024-03-11 a Monday.
        QTest::newRow("week on Sunday night")
            << utc("2024-03-10T15:59:59Z") << 1 << "2024-03-04 00:00:00"
            << "2024-03-10 23:59:59";
        QTest::newRow("week on Monday") << utc("2024-03-10T16:00:00Z") << 1 << "2024-03-11 00:00:00"
                                        << "2024-03-17 23:59:59";
        QTest::newRow("week across months")
            << utc("2024-03-01T00:00:00Z") << 1 << "2024-02-26 00:00:00"
            << "2024-03-03 23:59:59";
        QTest::newRow("leap February") << utc("2024-02-29T15:59:59Z") << 2 << "2024-02-01 00:00:00"
                                       << "2024-02-29 23:59:59";
        QTest::newRow("month turns at 16:00 UTC")
            << utc("2024-02-29T16:00:00Z") << 2 << "2024-03-01 00:00:00"
            << "2024-03-31 23:59:59";
        QTest::newRow("year end") << utc("2024-12-31T16:00:00Z") << 2 << "2025-01-01 00:00:00"
                                  << "2025-01-31 23:59:59";
        // The zone of the given instant does not matter.
        QTest::newRow("other zone")
            << QDateTime(QDate(2024, 3, 5), QTime(1, 0), QTimeZone(-5 * 3600)) << 0
            << "2024-03-05 00:00:00"
            << "2024-03-05 23:59:59";
    }
    void quickPeriods() {
        QFETCH(QDateTime, now);
        QFETCH(int, period);
        QFETCH(QString, from);
        QFETCH(QString, to);
        const PeriodTexts p = quickPeriod(QuickPeriod(period), now);
        QCOMPARE(p.from, from);
        QCOMPARE(p.to, to);
    }

    // ---- statistics and formats -----------------------------------------
    void patternFormat_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("shown");
        QTest::newRow("23.46") << 23.46 << "###.#"
                               << "23.5";
        QTest::newRow("0.46") << 0.46 << "###.#"
                              << ".5";
        QTest::newRow("25.0") << 25.0 << "###.#"
                              << "25.";
        QTest::newRow("-3.25") << -3.25 << "###.#"
                               << "-3.3";
        QTest::newRow("100.0 hum") << 100.0 << "##.#"
                                   << "100.";
        QTest::newRow("1234.56 not cut") << 1234.56 << "##.#"
                                         << "1234.6";
        QTest::newRow("23.45 half up") << 23.45 << "##.#"
                                       << "23.5";
        QTest::newRow("-0.04") << -0.04 << "##.#"
                               << ".";
        QTest::newRow("9.96 carries") << 9.96 << "##.#"
                                      << "10.";
        QTest::newRow("zeros") << 0.5 << "00.00"
                               << "00.50";
    }
    void patternFormat() {
        QFETCH(double, value);
        QFETCH(QString, pattern);
        QFETCH(QString, shown);
        QCOMPARE(formatPattern(value, pattern), shown);
    }

    void meanIsArithmetic_data() {
        QTest::addColumn<QStringList>("temps");
        QTest::addColumn<QStringList>("captions");
        QTest::newRow("10 20 30") << QStringList{"10", "20", "30"}
                                  << QStringList{"合计：3个记录", "最高温度：30", "最低温度：10",
                                                 "平均温度：20."};
        QTest::newRow("30 20 10") << QStringList{"30", "20", "10"}
                                  << QStringList{"合计：3个记录", "最高温度：30", "最低温度：10",
                                                 "平均温度：20."};
        QTest::newRow("one 25") << QStringList{"25"}
                                << QStringList{"合计：1个记录", "最高温度：25", "最低温度：25",
                                               "平均温度：25."};
        QTest::newRow("tenths") << QStringList{"23.4", "23.5", "23.5"}
                                << QStringList{"合计：3个记录", "最高温度：23.5", "最低温度：23.4",
                                               "平均温度：23.5"};
        QTest::newRow("negative and fine")
            << QStringList{"-3.25", "-3.25"}
            << QStringList{"合计：2个记录", "最高温度：-3.25", "最低温度：-3.25", "平均温度：-3.3"};
    }
    void meanIsArithmetic() {
        QFETCH(QStringList, temps);
        QFETCH(QStringList, captions);
        LiteConnection conn;
        TestDatabase db(conn);
        addRecords(db, temps);
        const RecordLoad load = loadRecords(conn, kBase);
        QVERIFY(load.ok());
        QCOMPARE(statisticsCaptions(load.stats).mid(0, 4), captions);
        QCOMPARE(statisticsCaptions(load.stats).at(6), QStringLiteral("平均湿度：50."));
    }

    void noRows() {
        LiteConnection conn;
        TestDatabase db(conn);
        const RecordLoad load = loadRecords(conn, kBase);
        QVERIFY(load.ok());
        QCOMPARE(load.table.size(), 0);
        QCOMPARE(statisticsCaptions(load.stats),
                 (QStringList{"合计：0个记录", "最高温度：", "最低温度：", "平均温度：",
                              "最高湿度：", "最低湿度：", "平均湿度："}));
    }

    void failedQueryReportsWhy() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.exec("drop table th");
        const RecordLoad load = loadRecords(conn, kBase);
        QVERIFY(!load.ok());
        QVERIFY(load.error.contains("th"));
    }

    // Every kind of value a cell can hold comes back as the list shows it.
    void cellsKeepWhatTheDatabaseHolds() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.addRecord(3, "2024-03-05 14:07:09", "23.5", "61.2");
        db.addRecord(255, "2024-03-05 14:07:10", "-10", "100");
        db.addRecord(1, "2024-3-5 1:2:3", "abc", "1.25");
        db.exec("insert into th (adr, mydate, temp, hum) values (null, null, null, 5000.5)");
        db.exec("insert into th (adr, mydate, temp, hum) values ('x', 20240305, -0.5, 0.1)");
        const RecordLoad load = loadRecords(conn, kBase);
        QVERIFY(load.ok());
        QStringList rows;
        for (qsizetype r = 0; r < load.table.size(); ++r) {
            QStringList cells;
            for (int c = 0; c < 4; ++c) cells << load.table.cell(r, c);
            rows << cells.join('|');
        }
        QCOMPARE(rows,
                 (QStringList{"3|2024-03-05 14:07:09|23.5|61.2", "255|2024-03-05 14:07:10|-10|100",
                              "1|2024-3-5 1:2:3|abc|1.25", "|||5000.5", "x|20240305|-0.5|0.1"}));
        // abc and the null are not numbers: the figures count the others.
        QCOMPARE(load.stats.count, 5);
        QCOMPARE(load.stats.temp.count(), 3);
        QCOMPARE(load.stats.temp.highest(), 23.5);
        QCOMPARE(load.stats.hum.highest(), 5000.5);
        QCOMPARE(load.stats.hum.lowest(), 0.1);
    }

    void modelOverTheRows() {
        LiteConnection conn;
        TestDatabase db(conn);
        addRecords(db, {"10", "20.5", "30"});
        RecordModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setTable(loadRecords(conn, kBase).table);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("采集时间"));
        QCOMPARE(model.index(1, 1).data().toString(), QStringLiteral("2024-03-05 10:00:01"));
        QCOMPARE(model.index(1, 2).data().toString(), QStringLiteral("20.5"));
        QCOMPARE(model.index(2, 0).data().toString(), QStringLiteral("1"));
        model.setTable(RecordTable());
        QCOMPARE(model.rowCount(), 0);
    }

    void csvExport() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.addRecord(3, "2024-03-05 14:07:09", "23.5", "61.2");
        db.exec("insert into th (adr, mydate, temp, hum) values (4, 'a,\"b\"', null, -0.5)");
        const RecordLoad load = loadRecords(conn, kBase);
        const QString path = QDir(db.dir()).filePath("out.csv");
        QCOMPARE(exportCsv(load.table, path), QString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("\xEF\xBB\xBF") +
                                  QStringLiteral("地址,采集时间,温度,湿度\r\n").toUtf8() +
                                  "3,2024-03-05 14:07:09,23.5,61.2\r\n4,\"a,\"\"b\"\"\",,-0.5\r\n");
        QVERIFY(!exportCsv(load.table, QDir(db.dir()).filePath("no/such/dir/out.csv")).isEmpty());
    }

    // ---- chart numbers --------------------------------------------------
    void yOfDefaultRanges() {
        const chart::Scale s = chart::readScale("-20", "80", "0", "100");
        QVERIFY(s.temp && s.hum);
        QCOMPARE(chart::yOf(30, *s.temp), 500.0);
        QCOMPARE(chart::yOf(50, *s.hum), 500.0);
        QCOMPARE(chart::yOf(-20, *s.temp), 0.0);
        QCOMPARE(chart::yOf(0, *s.hum), 0.0);
        QCOMPARE(chart::yOf(80, *s.temp), 1000.0);
        QCOMPARE(chart::yOf(100, *s.hum), 1000.0);
    }

    void scaleNotes() {
        const chart::Scale s = chart::readScale("20", " 20 ", "a", "100");
        QVERIFY(!s.temp && !s.hum);
        QVERIFY(s.tempNote.contains("两端相同"));
        QVERIFY(s.humNote.contains("不是数字"));
    }

    void labels() {
        QCOMPARE(chart::gridLabels(0, 40),
                 (QStringList{" 4", " 8", " 12", " 16", " 20", " 24", " 28", " 32", " 36"}));
        QCOMPARE(chart::gridLabels(-20, 80),
                 (QStringList{"-10", " 0", " 10", " 20", " 30", " 40", " 50", " 60", " 70"}));
        QCOMPARE(chart::gridLabels(0, 1).at(2), QStringLiteral(" 0.3"));  // 0.1 added three times
        QCOMPARE(chart::temperatureCornerText(" 0 "), QStringLiteral("0 温度(C)"));
        QCOMPARE(chart::humidityCornerText("0"), QStringLiteral("湿度(%) 0"));
    }

    void readout_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("index");
        QTest::newRow("4 at 0") << 4 << 0.0 << 0;
        QTest::newRow("4 below 500") << 4 << 499.9 << 0;
        QTest::newRow("4 at 500") << 4 << 500.0 << 1;
        QTest::newRow("4 at 1500") << 4 << 1500.0 << 3;
        QTest::newRow("4 near the edge") << 4 << 1999.9 << 3;
        QTest::newRow("4 at the edge") << 4 << 2000.0 << -1;
        QTest::newRow("left of the plot") << 4 << -1.0 << -1;
        QTest::newRow("one record") << 1 << 1999.0 << 0;
        QTest::newRow("no record") << 0 << 10.0 << -1;
    }
    void readout() {
        QFETCH(int, count);
        QFETCH(double, x);
        QFETCH(int, index);
        QCOMPARE(chart::readoutIndex(count, x), qsizetype(index));
    }

    void fourRecordsOnTheChart() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
        db.addRecord(1, "2024-03-05 11:00:00", "31", "51");  // an hour later
        db.addRecord(1, "2024-03-05 11:00:01", "32", "52");  // a second later
        db.addRecord(1, "2024-03-05 12:00:00", "33", "53");
        const ChartData d = loadChart(conn, kBase, 2000);
        QCOMPARE(d.count, 4);
        QCOMPARE(d.temp.segmentCount(), 3);
        QCOMPARE(d.hum.segmentCount(), 3);
        const std::vector<QPointF> expected = {{0, 30}, {500, 31}, {1000, 32}, {1500, 33}};
        QCOMPARE(d.temp.polylines().front(), expected);
        for (int k = 0; k < 4; ++k) QCOMPARE(chart::xOf(k, 4), 500.0 * k);
        QCOMPARE(d.timeAt(chart::readoutIndex(d.count, 499)),
                 QStringLiteral("2024-03-05 10:00:00"));
        QCOMPARE(d.timeAt(chart::readoutIndex(d.count, 1500)),
                 QStringLiteral("2024-03-05 12:00:00"));
        QCOMPARE(d.timeAt(chart::readoutIndex(d.count, 2000)), QString());
    }

    void oneAndNoRecord() {
        LiteConnection conn;
        TestDatabase db(conn);
        ChartData none = loadChart(conn, kBase, 800);
        QCOMPARE(none.count, 0);
        QVERIFY(none.error.isEmpty());
        QCOMPARE(none.temp.segmentCount(), 0);

        db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
        const ChartData one = loadChart(conn, kBase, 800);
        QCOMPARE(one.count, 1);
        QCOMPARE(one.temp.segmentCount(), 0);
        QCOMPARE(one.timeAt(chart::readoutIndex(1, 1999)), QStringLiteral("2024-03-05 10:00:00"));
    }

    void chartCountsMoreThan32767() {
        LiteConnection conn;
        TestDatabase db(conn);
        {
            LiteTransaction tx(conn);
            for (int i = 0; i < 40000; ++i)
                db.exec(QStringLiteral("insert into th (adr, mydate, temp, hum) values (1, "
                                       "'2024-03-05 10:00:00', %1, 50)")
                            .arg(i % 100));
            QVERIFY(tx.commit());
        }
        const ChartData d = loadChart(conn, kBase, 500);
        QCOMPARE(d.count, 40000);
        // At most four points per pixel column.
        QVERIFY(d.temp.segmentCount() <= 4 * 500);
        QCOMPARE(d.timeAt(39999), QStringLiteral("2024-03-05 10:00:00"));
    }

    // A column of many points keeps its first, lowest, highest and last, in order.
    void decimatorKeepsExtremesInOrder() {
        chart::Decimator d;
        const double values[] = {5, 9, 1, 7, 3};
        for (int i = 0; i < 5; ++i) d.add(10.0 + i * 0.1, values[i]);
        d.add(11.0, 4);
        d.add(12.0, qQNaN());  // breaks the curve
        d.add(13.0, 6);
        d.add(14.0, 8);
        d.finish();
        QCOMPARE(d.polylines().size(), size_t(2));
        const std::vector<QPointF> first = {{10.0, 5}, {10.1, 9}, {10.2, 1}, {10.4, 3}, {11.0, 4}};
        QCOMPARE(d.polylines()[0], first);
        QCOMPARE(d.segmentCount(), 4 + 1);
    }

    void countFallsBackToStepping() {
        LiteConnection conn;
        TestDatabase db(conn);
        addRecords(db, {"1", "2"});
        QString error;
        // A trailing ';' cannot stand inside a subquery.
        QCOMPARE(countRows(conn, kBase + ";", &error), 2);
        QCOMPARE(countRows(conn, "select * from nowhere", &error), -1);
        QVERIFY(error.contains("nowhere"));
    }

    // ---- maintenance ----------------------------------------------------
    void deletionStatements_data() {
        QTest::addColumn<QList<int>>("clicks");  // +n ticks Check n, -n clears it
        QTest::addColumn<QString>("statement");
        QTest::newRow("fresh") << QList<int>{} << "delete from th where adr<>0";
        QTest::newRow("module then before")
            << QList<int>{4, 1}
            << "delete from th where adr = '1' AND datetime(mydate) < '2010-01-01 "
               "00:00:00'";
        QTest::newRow("before then after")
            << QList<int>{1, 2}
            << "delete from th where adr<>0 AND datetime(mydate) > '2019-12-31 "
               "23:59:59'";
        QTest::newRow("after cleared, before still ticked")
            << QList<int>{1, 2, -2} << "delete from th where adr<>0";
        QTest::newRow("between")
            << QList<int>{3}
            << "delete from th where adr<>0 AND datetime(mydate) BETWEEN '2010-01-01 00:00:00' "
               "AND '2019-12-31 23:59:59'";
        QTest::newRow("module cleared")
            << QList<int>{4, -4, 3}
            << "delete from th where adr<>0 AND datetime(mydate) BETWEEN '2010-01-01 "
               "00:00:00' AND '2019-12-31 23:59:59'";
    }
    void deletionStatements() {
        QFETCH(QList<int>, clicks);
        QFETCH(QString, statement);
        DeletionConditions c;
        const DeletionConditions::Texts t{"2010-01-01 00:00:00", "2019-12-31 23:59:59", "1"};
        for (int click : clicks) QVERIFY(c.click(qAbs(click), click > 0, t).isEmpty());
        QCOMPARE(c.statement(), statement);
    }

    void deletionRefusesBadTexts() {
        DeletionConditions c;
        QVERIFY(c.click(4, true, {"", "", " 2 "}).isEmpty());
        QVERIFY(c.click(1, true, {"2010-01-01 00:00:00", "", ""}).isEmpty());
        const QString before = c.statement();
        QVERIFY(c.click(4, true, {"", "", "2' or '1'='1"}).contains("Text3"));
        QVERIFY(c.click(2, true, {"", "2019-12-31", ""}).contains("Text2"));
        QVERIFY(c.click(3, true, {"x", "2019-12-31 23:59:59", ""}).contains("Text1"));
        QCOMPARE(c.statement(), before);
        QCOMPARE(
            before,
            QStringLiteral(
                "delete from th where adr = '2' AND datetime(mydate) < '2010-01-01 00:00:00'"));
    }

    void question() {
        QCOMPARE(deletionQuestion(false, "1"), QStringLiteral("确认将删除数据库中的温湿度数据？"));
        QCOMPARE(deletionQuestion(true, " 7 "),
                 QStringLiteral("确认将删除数据库中模块 7 的温湿度数据？"));
    }

    void backupName() {
        QCOMPARE(backupFileName(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))),
                 QStringLiteral("2024.03.05_14.07.09_mydb.db"));
        QCOMPARE(backupFileName(QDateTime(QDate(2024, 12, 31), QTime(23, 0, 0))),
                 QStringLiteral("2024.12.31_23.00.00_mydb.db"));
    }

    void backupCopiesAndReopens() {
        LiteConnection conn;
        TestDatabase db(conn);
        db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
        const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));

        BackupResult r = backupDatabase(conn, db.path(), when);
        QCOMPARE(r.outcome, BackupResult::MissingDirectory);
        QVERIFY(conn.isOpen());
        QCOMPARE(db.scalar("select count(*) from th").toInt(), 1);

        QVERIFY(QDir(db.dir()).mkdir("backup"));
        r = backupDatabase(conn, db.path(), when);
        QCOMPARE(r.outcome, BackupResult::Done);
        QCOMPARE(r.target, QDir(db.dir()).filePath("backup/2024.03.05_14.07.09_mydb.db"));
        QVERIFY(conn.isOpen());
        db.addRecord(1, "2024-03-05 10:00:01", "31", "51");
        r = backupDatabase(conn, db.path(), when);  // the same second: replaced
        QCOMPARE(r.outcome, BackupResult::Done);
        LiteConnection copy;
        QVERIFY(copy.Open(r.target));
        LiteStatement st = copy.prepare("select count(*) from th");
        QVERIFY(st.Step());
        QCOMPARE(st.integer(0), 2);
    }

    void failedCopyLeavesTheConnectionOpen() {
        LiteConnection conn;
        TestDatabase db(conn);
        const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
        // A directory where the copy should go: it can be neither removed nor written.
        QVERIFY(QDir(db.dir()).mkpath("backup/2024.03.05_14.07.09_mydb.db/x"));
        const BackupResult r = backupDatabase(conn, db.path(), when);
        QCOMPARE(r.outcome, BackupResult::CopyFailed);
        QVERIFY(conn.isOpen());
        db.addRecord(1, "2024-03-05 10:00:00", "30", "50");
    }
};

QTEST_GUILESS_MAIN(TestRecordsCore)
#include "tst_records_core.moc"
