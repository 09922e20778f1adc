// The records without any window: the record query and its texts, statistics and
// formats, the CSV file, the chart's numbers, maintenance; and the passes that read the
// records in slices on a thread of their own (the list's pages and statistics, the chart's
// curves, the export, what runs them), each held against reading the query in one go.
#include "records/BackgroundPass.h"
#include "records/ChartData.h"
#include "records/ChartGeometry.h"
#include "records/Maintenance.h"
#include "records/RecordCsv.h"
#include "records/RecordListPass.h"
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

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <limits>
#include <thread>

namespace {
const QString kBase = QStringLiteral("select * from th where id<>0");

// Rows as the list shows them: "adr|time|temp|hum".
template <class Cell>
QStringList joined(qint64 rows, const Cell &cell) {
    QStringList out;
    for (qint64 r = 0; r < rows; ++r)
        out << QStringList{cell(r, 0), cell(r, 1), cell(r, 2), cell(r, 3)}.join('|');
    return out;
}
// Every row of a query read in one go, each cell as the plain statement gives it.
QStringList everyRow(LiteConnection &conn, const QString &sql) {
    QStringList out;
    LiteStatement st = conn.prepare(sql);
    for (st.Step(); !st.done(); st.Step())
        out << QStringList{cellText(st.value(1)), cellText(st.value(2)), cellText(st.value(3)),
                           cellText(st.value(4))}
                   .join('|');
    return out;
}
// The same rows read page by page through an index.
QStringList pagedRows(const QString &path, const PageIndex &index) {
    RecordModel model(path);
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
    // The statement after clicks on the condition boxes, separated by ';': +n ticks Check n,
    // -n clears it, TextN=... types into a box first. A click that is refused names its box
    // and leaves the statement as it was. A time in another form than the records' runs and
    // compares as text; only a text that cannot stand in the statement is refused.
    void clicks_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("fragments");  // the statement after the base text
        QTest::addColumn<QString>("refused");    // what the refusal of the last click names
        const QString period = " AND datetime(mydate) >= '%1' AND datetime(mydate) <= '%2'";
        const std::tuple<const char *, QString, QString, const char *> rows[] = {
            {"example", "+1;+2;+3;+4;+8;+10",
             " AND adr = 1" + period.arg("2010-01-01 00:00:00", "2019-12-31 23:59:59") +
                 " AND temp < 40.0 AND temp >= -40.0 AND hum < 99.9 AND hum >= 0",
             ""},
            {"pair: the last click", "+3;+5", " AND temp <= 40.0", ""},
            {"pair: either clears", "+3;+5;-3", "", ""},
            {"pairs", "+9;+10;+7;+8;+6", " AND temp > -40.0 AND hum < 99.9 AND hum >= 0", ""},
            {"the text of the click", "+3;Text4=10;Text1=  3  ;+1", " AND adr = 3 AND temp < 40.0",
             ""},
            {"clicked again", "+3;Text4=10;-3;+3", " AND temp < 10", ""},
            {"a date alone", "Text2=2024-03-05;+2", period.arg("2024-03-05", "2019-12-31 23:59:59"),
             ""},
            {"a quote", "Text3=2019' or '1'='1;+2",
             period.arg("2010-01-01 00:00:00", "2019'' or ''1''=''1"), ""},
            {"address", "+3;Text1=1a;+1", " AND temp < 40.0", "“只看模块”"},
            {"no address", "Text1=;+1", "", "“只看模块”"},
            {"address and more", "Text1=1 or 1=1;+1", "", "“只看模块”"},
            {"control character", "Text2=2010\t01;+2", "", "“限制时间段，从”"},
            {"broken Unicode", QString("Text3=") + QChar(0xD800) + ";+2", "", "“到”"},
            {"temperature upper", "Text4=4O;+3", "", "“温度”的上限"},
            {"temperature lower", "Text5=0 or 1;+6", "", "“温度”的下限"},
            {"humidity upper", "Text6=;+7", "", "“湿度”的上限"},
            {"humidity lower", "Text7=x;+9", "", "“湿度”的下限"}};
        for (const auto &[name, steps, fragments, refused] : rows)
            QTest::newRow(name) << steps << fragments << QString(refused);
    }
    void clicks() {
        QFETCH(QString, steps);
        QFETCH(QString, fragments);
        QFETCH(QString, refused);
        RecordQuery::Texts t{
            "1", "2010-01-01 00:00:00", "2019-12-31 23:59:59", "40.0", "-40.0", "99.9", "0"};
        QString *boxes[] = {&t.address, &t.from,    &t.to,    &t.tempHigh,
                            &t.tempLow, &t.humHigh, &t.humLow};
        RecordQuery q;
        QString said;
        for (const QString &step : steps.split(';')) {
            if (step.startsWith("Text"))
                *boxes[step.mid(4, 1).toInt() - 1] = step.section('=', 1);
            else
                said = q.click(RecordCondition(qAbs(step.toInt()) - 1), step.toInt() > 0, t);
        }
        QCOMPARE(q.statement(), kBase + fragments);
        QCOMPARE(said.isEmpty(), refused.isEmpty());
        QVERIFY2(said.contains(refused), qPrintable(said));
    }

    // Seconds to whole milliseconds, half to even; nothing for what a timer cannot run.
    void refreshPeriods_data() {
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<int>("ms");  // -1: refused
        const std::pair<const char *, int> rows[] = {{"60", 60000}, {"0.5", 500},  {" 5 ", 5000},
                                                     {"0.0025", 2}, {"0.0035", 4}, {"0", -1},
                                                     {"-1", -1},    {"abc", -1},   {"3000000", -1}};
        for (const auto &[seconds, ms] : rows) QTest::newRow(seconds) << QString(seconds) << ms;
    }
    void refreshPeriods() {
        QFETCH(QString, seconds);
        QFETCH(int, ms);
        QCOMPARE(periodMilliseconds(seconds).value_or(-1), ms);
    }

    // Today, this week and this month in record time (UTC + 8 hours): 15:59:59 UTC is the
    // last second of a day there, 16:00 the first of the next.
    void quickPeriods_data() {
        QTest::addColumn<QString>("now");
        QTest::addColumn<int>("period");  // today, this week, this month
        QTest::addColumn<QString>("days");
        const std::tuple<const char *, const char *, int, const char *> rows[] = {
            {"last second of a day", "2024-03-05T15:59:59Z", 0, "2024-03-05 2024-03-05"},
            {"first of the next", "2024-03-05T16:00:00Z", 0, "2024-03-06 2024-03-06"},
            {"a Sunday night", "2024-03-10T15:59:59Z", 1, "2024-03-04 2024-03-10"},
            {"Monday", "2024-03-10T16:00:00Z", 1, "2024-03-11 2024-03-17"},
            {"a week across months", "2024-03-01T00:00:00Z", 1, "2024-02-26 2024-03-03"},
            {"leap February", "2024-02-29T15:59:59Z", 2, "2024-02-01 2024-02-29"},
            {"March from its first second", "2024-02-29T16:00:00Z", 2, "2024-03-01 2024-03-31"},
            {"a new year", "2024-12-31T16:00:00Z", 2, "2025-01-01 2025-01-31"},
            {"any zone", "2024-03-05T01:00:00-05:00", 0, "2024-03-05 2024-03-05"}};
        for (const auto &[name, now, period, days] : rows)
            QTest::newRow(name) << QString(now) << period << QString(days);
    }
    void quickPeriods() {
        QFETCH(QString, now);
        QFETCH(int, period);
        QFETCH(QString, days);
        const PeriodTexts p =
            quickPeriod(QuickPeriod(period), QDateTime::fromString(now, Qt::ISODate));
        QCOMPARE(p.from + " " + p.to,
                 days.section(' ', 0, 0) + " 00:00:00 " + days.section(' ', 1) + " 23:59:59");
    }

    // ---- statistics and formats -----------------------------------------
    void patternFormat_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("shown");
        const std::tuple<double, const char *, const char *> rows[] = {
            {23.46, "###.#", "23.5"}, {0.46, "###.#", ".5"},       {25.0, "###.#", "25."},
            {-3.25, "###.#", "-3.3"}, {100.0, "##.#", "100."},     {-0.04, "##.#", "."},
            {23.45, "##.#", "23.5"},  {1234.56, "##.#", "1234.6"}, {9.96, "##.#", "10."},
            {0.5, "00.00", "00.50"}};
        for (const auto &[value, pattern, shown] : rows)
            QTest::newRow(qPrintable(QString::number(value) + " " + pattern))
                << value << QString(pattern) << QString(shown);
    }
    void patternFormat() {
        QFETCH(double, value);
        QFETCH(QString, pattern);
        QFETCH(QString, shown);
        QCOMPARE(formatPattern(value, pattern), shown);
    }

    // Count, extremes and the arithmetic mean of the listed values, in any order, numbers that
    // are not finite left out (no row: see the list window's test).
    void statistics_data() {
        QTest::addColumn<QString>("temps");
        QTest::addColumn<QString>("shown");
        const std::pair<const char *, const char *> rows[] = {
            {"10 20 30", "3个记录 30 10 20. 50 50 50."},
            {"30 20 10", "3个记录 30 10 20. 50 50 50."},
            {"23.4 23.4 23.5", "3个记录 23.5 23.4 23.4 50 50 50."},
            {"-3.25 -3.25", "2个记录 -3.25 -3.25 -3.3 50 50 50."},
            {"10 9e999 30", "3个记录 30 10 20. 50 50 50."}};  // an infinity is no reading
        for (const auto &[temps, shown] : rows)
            QTest::newRow(temps) << QString(temps) << QString(shown);
    }
    void statistics() {
        QFETCH(QString, temps);
        QFETCH(QString, shown);
        Records r(false);
        for (const QString &temp : temps.split(' '))
            r.db.addRecord(1, "2024-03-05 10:00:00", temp, "50");
        const QStringList captions = statisticsCaptions(r.list(kBase).stats);
        QCOMPARE(captions.join(' ').remove(QRegularExpression("[^ ]*：")), shown);
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
        const QStringList rows = everyRow(r.conn, kBase);  // the plain reading of each cell
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

        // The file holds the listed rows, read again in one pass.
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
    // The design's examples of the scale; a range that is no number, too wide for one or of
    // equal ends draws no curve and says why.
    void scale() {
        const chart::Scale s = chart::readScale("-20", "80", "0", "100");
        QVERIFY(s.temp && s.hum);
        QCOMPARE((QList<double>{chart::yOf(30, *s.temp), chart::yOf(-20, *s.temp),
                                chart::yOf(50, *s.hum), chart::yOf(100, *s.hum)}),
                 (QList<double>{500, 0, 500, 1000}));
        QCOMPARE(chart::gridLabels(-20, 80),
                 (QStringList{"-10", " 0", " 10", " 20", " 30", " 40", " 50", " 60", " 70"}));
        QCOMPARE(chart::gridLabels(0, 1).at(2), QStringLiteral(" 0.3"));  // 0.1 added three times

        const QString wide = "-1" + QString(308, '0');
        const chart::Scale bad = chart::readScale("20", " 20 ", "a", "100");
        QVERIFY(!bad.temp && !bad.hum && !chart::readScale(wide, wide.mid(1), "0", "1").temp);
        QCOMPARE(bad.tempNote, QStringLiteral("温度范围的两端相同"));
        QVERIFY(bad.humNote.contains("不是数字"));
    }

    // The readout: the record at or left of the pointer, none outside the records.
    void readout_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("record");
        const std::tuple<int, double, int> rows[] = {
            {4, 0.0, 0},     {4, 499.9, 0}, {4, 500.0, 1},  {4, 1500.0, 3}, {4, 1999.9, 3},
            {4, 2000.0, -1}, {4, -1.0, -1}, {1, 1999.0, 0}, {0, 10.0, -1}};
        for (const auto &[count, x, record] : rows)
            QTest::newRow(qPrintable(QString("%1 at %2").arg(count).arg(x)))
                << count << x << record;
    }
    void readout() {
        QFETCH(int, count);
        QFETCH(double, x);
        QFETCH(int, record);
        QCOMPARE(chart::readoutIndex(count, x), qsizetype(record));
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
    // The statement and the question of a deletion after clicks (+n ticks Check n, -n clears
    // it) over the default texts and module 1. A bad text names its box and leaves the
    // condition as it was.
    void deletions_data() {
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("question");  // between 确认将删除数据库中 and 的温湿度数据？
        const QString first = "2010-01-01 00:00:00", second = "2019-12-31 23:59:59";
        const QString before = " AND datetime(mydate) < '" + first + "'";
        const QString after = " AND datetime(mydate) > '" + second + "'";
        const QString between =
            " AND datetime(mydate) BETWEEN '" + first + "' AND '" + second + "'";
        const std::tuple<const char *, const char *, QString, QString> rows[] = {
            {"none", "", "adr<>0", ""},
            {"module and before", "4 1", "adr = '1'" + before, "模块1在" + first + "之前"},
            {"the last click", "1 2", "adr<>0" + after, second + "之后"},
            {"falls back", "2 1 -1", "adr<>0" + after, second + "之后"},
            {"falls back again", "1 2 -2", "adr<>0" + before, first + "之前"},
            {"falls back twice", "1 2 3 -3 -2", "adr<>0" + before, first + "之前"},
            {"the other falls back", "1 2 -1", "adr<>0" + after, second + "之后"},
            {"between", "3", "adr<>0" + between, first + "到" + second + "之间"},
            {"module cleared", "4 -4 3", "adr<>0" + between, first + "到" + second + "之间"}};
        for (const auto &[name, clicks, condition, question] : rows)
            QTest::newRow(name) << QString(clicks) << condition << question;
    }
    void deletions() {
        QFETCH(QString, clicks);
        QFETCH(QString, condition);
        QFETCH(QString, question);
        DeletionConditions c;
        const DeletionConditions::Texts t{"2010-01-01 00:00:00", "2019-12-31 23:59:59", "1"};
        for (const QString &click : clicks.split(' ', Qt::SkipEmptyParts))
            QVERIFY(c.click(DeletionBox(qAbs(click.toInt()) - 1), click.toInt() > 0, t).isEmpty());
        QCOMPARE(c.statement(), "delete from th where " + condition);
        QCOMPARE(c.question(), "确认将删除数据库中" + question + "的温湿度数据？");
        // The deletion's time boxes take record times only.
        QVERIFY(
            c.click(DeletionBox::After, true, {"", "2019-12-31", ""}).contains("之后的数据删除"));
        QVERIFY(
            c.click(DeletionBox::Between, true, {"x", t.second, ""}).contains("之前的数据删除"));
        QCOMPARE(c.statement(), "delete from th where " + condition);
    }

    // Backups while another connection commits every 100 ms, each commit moving rows all over
    // the file: every copy is one whole state of the file (integrity_check ok, the count that
    // every commit keeps). A copy of the same second replaces the one before; a missing
    // directory and a copy that cannot be put in place say so.
    void backup() {
        Records r(false);
        r.db.exec(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < 99999) "
            "insert into th (adr, mydate, temp, hum) select 1 + i % 4, datetime(1709600000 + i, "
            "'unixepoch'), i % 50, 50 from n");
        const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
        PassControl control;
        QCOMPARE(backupDatabase(r.db.path(), when, control).outcome,
                 BackupResult::MissingDirectory);
        QVERIFY(QDir(r.db.dir()).mkdir("backup"));
        std::atomic<bool> stop{false};
        std::atomic<int> commits{0};
        std::thread writer([&stop, &commits, path = r.db.path()] {
            LiteConnection w;
            w.Open(path);
            w.setBusyTimeout(10000);
            while (!stop) {
                commits += w.Execute(
                    "begin; delete from th where id in (select id from th order by random() limit "
                    "2000); insert into th (adr, mydate, temp, hum) select adr, mydate, temp, hum "
                    "from th order by random() limit 2000; commit");
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        for (int i = 0; i < 6; ++i) {
            const BackupResult b = backupDatabase(r.db.path(), when.addSecs(i % 5), control);
            QCOMPARE(b.outcome, BackupResult::Done);
            LiteConnection copy;
            QVERIFY(copy.Open(b.target));
            LiteStatement check =
                copy.prepare("select (select * from pragma_integrity_check), count(*) from th");
            QVERIFY(check.Step() && !check.done());
            QCOMPARE(check.text(0) + " " + check.text(1), QStringLiteral("ok 100000"));
        }
        stop = true;
        writer.join();
        QVERIFY(commits > 0);
        QCOMPARE(QDir(r.db.dir()).entryList({"*.db"}, QDir::Files).size(), 1);
        QCOMPARE(QDir(r.db.dir() + "/backup").entryList(QDir::Files).size(), 5);

        // A directory where the copy should go: it can be neither removed nor written.
        QVERIFY(QDir(r.db.dir()).mkpath("backup/2024.03.05_14.07.15_mydb.db/x"));
        QCOMPARE(backupDatabase(r.db.path(), when.addSecs(6), control).outcome,
                 BackupResult::CopyFailed);
        QCOMPARE(QDir(r.db.dir() + "/backup").entryList(QDir::Files).size(), 5);
    }

    // ---- the list ---------------------------------------------------------
    // Pages give exactly the rows of the full query in id order and with its texts, for
    // pages and slices of every size around the edges. With an index somebody added SQLite
    // gives the rows of a slice in another order: the pass notices and starts over with every
    // slice ordered by id.
    void pagesAreTheFullQuery_data() {
        QTest::addColumn<QString>("condition");
        for (const char *c :
             {"", " AND adr = 1", " AND temp >= 20 AND hum < 45", " AND temp in (30, 10, 20)"})
            QTest::newRow(*c ? c : "every record") << QString(c);
    }
    void pagesAreTheFullQuery() {
        QFETCH(QString, condition);
        Records r;
        r.db.exec("create index bytemp on th(temp)");
        const QString sql = kBase + condition;
        const QStringList all = everyRow(r.conn, sql + " order by id");
        for (int pageRows : {1, 4, 5, 64}) {
            for (qint64 sliceIds : {1, 3, 100}) {
                const QByteArray what = "pages " + QByteArray::number(pageRows) + " slices " +
                                        QByteArray::number(sliceIds);
                const ListResult l = r.list(sql, ListPass(pageRows), sliceIds);
                QVERIFY2(l.error.isEmpty(), what.constData());
                QCOMPARE(qsizetype(l.index.pageStarts.size()),
                         (all.size() + pageRows - 1) / pageRows);
                QVERIFY2(pagedRows(r.db.path(), l.index) == all, what.constData());
                QCOMPARE(l.stats.count, qint64(all.size()));
            }
        }
        // Rows deleted after the count leave their places empty; nothing else moves.
        const ListResult l = r.list(sql, ListPass(1), 7);
        QVERIFY(l.index.pageStarts.size() > 1);
        const QStringList before = pagedRows(r.db.path(), l.index);
        r.db.exec(QStringLiteral("delete from th where id = %1").arg(l.index.pageStarts[1]));
        const QStringList after = pagedRows(r.db.path(), l.index);
        QCOMPARE(after.mid(0, 1) + after.mid(2), before.mid(0, 1) + before.mid(2));
        QCOMPARE(after[1], QString("|||"));
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
        QCOMPARE(pagedRows(r.db.path(), l.index), everyRow(r.conn, kBase));
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
        writer.setBusyTimeout(0);
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
        std::atomic<bool> started{false}, ended{false};
        auto job = std::make_shared<ListPass>();
        BackgroundPass pass;
        pass.start(
            [&started, &ended, job, path = r.db.path()](PassControl &control) {
                started = true;
                runListPass(path, kBase, *job, control);
                ended = true;
            },
            {});
        QTRY_VERIFY(started.load());
        pass.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(ended.load(), 5000);
        QCOMPARE(job->rows(), 0);
        QVERIFY(other.Execute("COMMIT"));
    }

    // The model is a window onto the list: its rows are the records from its top on, while
    // the list grows as a pass hands it on and when scrolled anywhere.
    void modelWindow() {
        Records r;
        const QStringList all = everyRow(r.conn, kBase);
        const ListResult l = r.list(kBase, ListPass(8), 5);
        RecordModel model(r.db.path());
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
    void chartIsEveryRecordFed_data() {
        QTest::addColumn<int>("shape");
        const char *shapes[] = {"ramp", "jumps", "flat", "gaps", "sawtooth", "none"};
        for (int s = 0; s < 6; ++s) QTest::newRow(shapes[s]) << s;
    }
    void chartIsEveryRecordFed() {
        QFETCH(int, shape);
        Records r(false);
        // Module s + 1 holds the ids from s * 3000 + 1 on, 3000 of them (module 6 none).
        r.db.exec(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < 2999), "
            "m(s) as (select 1 union all select s + 1 from m where s < 5) "
            "insert into th (adr, mydate, temp, hum) select s, '2024-03-05 ' || time(i, "
            "'unixepoch'), case s when 1 then i / 10.0 when 2 then i * 7919 % 1103 / 10.0 "
            "when 3 then 20 when 4 then case when i % 500 < 3 or i between 1201 and 1399 then "
            "case i % 2 when 1 then null else 'x' end else i / 10.0 end else i % 97 end, "
            "100 - i * 13 % 100 from m, n order by s, i");
        ChartTimes times(r.db.path());
        for (const int limit : {1, 4, 37, 3000}) {
            const QString sql = kBase + QString::asprintf(" AND adr = %d AND id <= %d", shape + 1,
                                                          shape * 3000 + limit);
            for (const double width : {7.0, 333.5}) {
                const Curves expected = everyRecordFed(r.conn, sql, width);
                for (const qsizetype buckets : {2, 16, 0}) {
                    const QByteArray what = QByteArray::number(limit) + " wide " +
                                            QByteArray::number(width) + " in " +
                                            QByteArray::number(buckets);
                    PassControl control;
                    const ChartData d = loadChart(r.db.path(), sql, width, control, 500, buckets);
                    QVERIFY2(d.error.isEmpty(), what.constData());
                    QCOMPARE(d.count, expected.count);
                    QVERIFY2(d.temp.polylines() == expected.temp.polylines(), what.constData());
                    QVERIFY2(d.hum.polylines() == expected.hum.polylines(), what.constData());
                    for (qsizetype k : {qsizetype(0), d.count / 3, d.count - 1})
                        QCOMPARE(times.at(d, k), expected.times.value(k));
                    QCOMPARE(times.at(d, d.count), QString());
                    QCOMPARE(times.at(d, -1), QString());
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
    // Clicks and moves select rows of the whole list, as a table does. Each step is a word
    // and a row: click, ctrl (Ctrl+click), shift (Shift+click), move, shiftmove (Shift+move),
    // all (all of that many rows); the selected ranges are "first-last".
    void rowSelection_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("ranges");
        const std::pair<const char *, const char *> rows[] = {
            {"click5", "5-5"},
            {"click5 shift9", "5-9"},
            {"click9 shift5", "5-9"},
            {"click5 ctrl7 ctrl6", "5-7"},
            {"all10 ctrl4", "0-3 5-9"},
            {"all10 ctrl0 ctrl9", "1-8"},
            {"click5 ctrl7 shift9", "7-9"},
            {"click5 shiftmove8 shiftmove3", "3-5"},
            {"click5 move1000000", "1000000-1000000"},
            {"all100 ctrl50", "0-49 51-99"}};
        for (const auto &[steps, ranges] : rows)
            QTest::newRow(steps) << QString(steps) << QString(ranges);
    }
    void rowSelection() {
        QFETCH(QString, steps);
        QFETCH(QString, ranges);
        RowSelection s;
        for (const QString &step : steps.split(' ')) {
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
        QStringList selected;
        for (const auto &[first, last] : s.ranges())
            selected << QString("%1-%2").arg(first).arg(last);
        QCOMPARE(selected.join(' '), ranges);
    }
};

QTEST_GUILESS_MAIN(TestRecordsCore)
#include "tst_records_core.moc"
