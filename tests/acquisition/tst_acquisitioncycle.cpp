// The polling engine without its window: which module a tick polls, what an
// unanswered poll marks, which replies are believed, counters, run time, the
// record schedule, typed numbers and the list load.
#include "ModuleReplies.h"
#include "acquisition/AcquisitionCycle.h"
#include "acquisition/AcquisitionReply.h"
#include "acquisition/BusSearch.h"
#include "acquisition/ModuleList.h"
#include "bus/HexText.h"
#include "support/TestDatabase.h"

#include <QAbstractItemModelTester>
#include <QTest>

namespace {
constexpr qint32 kMax = std::numeric_limits<qint32>::max();

// One row per flag ('y' 是, 'n' 否, '-' empty); addresses 1, 2, 3 ... unless given.
QList<ModuleRow> rows(const QString &flags, const QStringList &addresses = {}) {
    QList<ModuleRow> out;
    for (qsizetype i = 0; i < flags.size(); ++i) {
        ModuleRow r;
        r.address = addresses.value(i, QString::number(i + 1));
        r.enabled = flags[i] == 'y' ? "是" : flags[i] == 'n' ? "否" : "";
        r.temperature = r.humidity = "t";
        out << r;
    }
    return out;
}

// One poll tick whose request went out; the position polled (0: nothing sent).
int poll(AcquisitionCycle &cycle, ModuleListModel &list) {
    const PollStep step = cycle.tick(list);
    cycle.requestSent(step);
    return step.position;
}

QString cells(const ModuleListModel &list, int p) {
    return list.at(p).temperature + "/" + list.at(p).humidity;
}
}  // namespace

class TestAcquisitionCycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Flags and addresses of the rows, then the positions the ticks poll (0: nothing sent).
    void pollOrder_data() {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QList<int>>("polled");
        // The index is advanced before use: the first tick polls position 2.
        QTest::newRow("all enabled") << "yyy" << QStringList() << QList<int>{2, 3, 1, 2, 3, 1};
        QTest::newRow("one module") << "y" << QStringList() << QList<int>{1, 1, 1};
        // Reaching the last position while skipping ends the tick without
        // sending, and gotReply stays false.
        QTest::newRow("last disabled") << "ynn" << QStringList() << QList<int>{0, 1, 0, 1, 0};
        QTest::newRow("middle disabled") << "yny" << QStringList() << QList<int>{3, 1, 3, 1};
        QTest::newRow("all disabled") << "nnn" << QStringList() << QList<int>{0, 0, 0, 0};
        QTest::newRow("empty list") << "" << QStringList() << QList<int>{0, 0};
        // An empty 启用 cell stops the search but is not polled.
        QTest::newRow("empty flag") << "y-y" << QStringList() << QList<int>{0, 3, 1, 0, 3};
        QTest::newRow("addresses out of range")
            << "yyy" << QStringList{"1", "256", "x"} << QList<int>{0, 0, 1};
    }
    void pollOrder() {
        QFETCH(QString, flags);
        QFETCH(QStringList, addresses);
        QFETCH(QList<int>, polled);
        ModuleListModel list;
        list.setRows(rows(flags, addresses));
        AcquisitionCycle cycle;
        cycle.start();
        QList<int> got;
        while (got.size() < polled.size()) got << poll(cycle, list);
        QCOMPARE(got, polled);
        // No reply came: every request but the last one is one failure, counted
        // and marked on its row by the next tick. Nothing else is marked.
        const QList<int> overdue = polled.mid(0, polled.size() - 1);
        QCOMPARE(cycle.failCount, int(overdue.size() - overdue.count(0)));
        QCOMPARE(cycle.okCount, 0);
        QCOMPARE(cycle.gotReply, polled.count(0) == polled.size());
        for (int p = 1; p <= list.count(); ++p)
            QCOMPARE(cells(list, p), overdue.contains(p) ? "0/0" : "t/t");
    }

    void readingsBelievedOnlyFromThePolledModule() {
        ModuleListModel list;
        list.setRows(rows("yy"));
        AcquisitionCycle cycle;
        cycle.start();
        QVERIFY(!cycle.takeReading(list, 2, Measurement{1, 1}));  // nothing polled yet
        QCOMPARE(poll(cycle, list), 2);
        QVERIFY(!cycle.takeReading(list, 1, Measurement{1, 1}));  // another module
        QVERIFY(!cycle.gotReply);
        QVERIFY(cycle.takeReading(list, 2, Measurement{235, 550}));
        QVERIFY(cycle.gotReply && list.at(2).fresh);
        QCOMPARE(cells(list, 2), "23.5/55");
        // A second reply to the same poll is not counted again.
        QVERIFY(!cycle.takeReading(list, 2, Measurement{235, 550}));
        QCOMPARE(cycle.okCount, 1);

        // The list loaded anew while a poll is out, another module now at that
        // position: its reply is not credited to the wrong row, and the
        // failure marks nothing on it.
        QCOMPARE(poll(cycle, list), 1);
        list.setRows(rows("yy", {"7", "2"}));
        QVERIFY(!cycle.takeReading(list, 1, Measurement{5, 5}));
        cycle.tick(list);
        QCOMPARE(cells(list, 1), "t/t");
        QCOMPARE(cycle.failCount, 1);
    }

    // Counters and the run time stop at their largest values instead of wrapping.
    void countersAndRunTime() {
        ModuleListModel list;
        list.setRows(rows("y"));
        AcquisitionCycle cycle;
        cycle.okCount = kMax;
        cycle.failCount = kMax - 1;
        cycle.start();
        for (int i = 0; i < 3; ++i) {
            poll(cycle, list);
            cycle.takeReading(list, 1, Measurement{1, 1});
        }
        for (int i = 0; i < 4; ++i) poll(cycle, list);
        QCOMPARE(cycle.counterText(), "成功采集次数：2147483647 失败次数：2147483647");

        RunTime t{0, 59, 58};
        t.tick();
        QCOMPARE(t.text(), "0小时59分59秒");
        for (int i = 0; i < 3904; ++i) t.tick();
        QCOMPARE(t.text(), "2小时5分3秒");
        t = {kMax, 59, 59};
        t.tick();
        QCOMPARE(t.text(), "2147483647小时59分59秒");
    }

    // The positions due at each of eight ticks after a reset, "-" for none;
    // then, with "retry", the record of position 1 could not be stored at the
    // fourth tick.
    void schedule_data() {
        QTest::addColumn<QList<int>>("periods");
        QTest::addColumn<bool>("retry");
        QTest::addColumn<QString>("due");
        // Period p: first on the (p+1)-th tick, then every p. Period 0: never.
        QTest::newRow("periods 3, 0, 1") << QList<int>{3, 0, 1} << false << "- 3 3 1,3 3 3 1,3 3";
        // A record that could not be stored is due again at the next tick.
        QTest::newRow("retry") << QList<int>{3} << true << "- - - 1 1 - - 1";
    }
    void schedule() {
        QFETCH(QList<int>, periods);
        QFETCH(bool, retry);
        QFETCH(QString, due);
        RecordSchedule s;
        s.reset(periods);
        QStringList got;
        for (int i = 0; i < 8; ++i) {
            QStringList positions;
            for (int p : s.tick()) positions << QString::number(p);
            got << (positions.isEmpty() ? "-" : positions.join(','));
            if (retry && i == 3)
                s.retry({1});
        }
        QCOMPARE(got.join(' '), due);
    }

    void recordsOnlyFromFreshReadings() {
        ModuleListModel list;
        QList<ModuleRow> r = rows("yny", {"11", "12", "13"});
        for (ModuleRow &m : r) m.recordSeconds = 1;
        list.setRows(r);
        AcquisitionCycle cycle;
        cycle.schedule.reset(list.recordPeriods());
        cycle.start();
        // Two modules polled in turn: 2 ticks a round; at 2 s a tick a reading
        // may be 8 s old, at 100 ms never less than 5 s.
        QCOMPARE(AcquisitionCycle::ticksPerRound(list), 2);
        QCOMPARE(AcquisitionCycle::maxRecordAgeMs(list, 2000), 8000);
        QCOMPARE(AcquisitionCycle::maxRecordAgeMs(list, 100), 5000);
        const qint64 maxAge = 5000;
        const auto recorded = [&](qint64 nowMs) {
            QStringList out;
            for (const DueRecord &d : cycle.secondTick(list, nowMs, maxAge))
                out << QString::number(d.position) + ":" + d.address + " " + d.temperature + "/" +
                           d.humidity;
            return out;
        };
        // Countdowns at 1, then nothing read yet: the loaded texts are never recorded.
        QVERIFY(recorded(0).isEmpty() && recorded(1000).isEmpty());
        QCOMPARE(poll(cycle, list), 3);
        QVERIFY(cycle.takeReading(list, 13, Measurement{-100, 455}, 1000));
        QCOMPARE(poll(cycle, list), 1);  // no answer
        QCOMPARE(recorded(2000), QStringList{"3:13 -10/45.5"});
        // A failed poll shows "0" on screen only; the disabled module is never recorded.
        cycle.tick(list);
        QCOMPARE(cells(list, 1), "0/0");
        QCOMPARE(recorded(6000), QStringList{"3:13 -10/45.5"});
        // A reading older than allowed is not recorded again, though the row shows it.
        QVERIFY(recorded(6001).isEmpty());
        QCOMPARE(cells(list, 3), "-10/45.5");
        QCOMPARE(cycle.runTime.text(), "0小时0分5秒");
    }

    // What a receive text that reaches the window is.
    void analyseReplies_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kind");
        const auto row = [](const char *name, const QString &text, const char *kind) {
            QTest::newRow(name) << text << QString(kind);
        };
        const QString example = receiveText(readingFrame(1, 0x00EB, 0x0226));
        row("reading", example, "reading 1 23.5/55");
        row("below zero", receiveText(readingFrame(3, 0xFF9C, 0x0258)), "reading 3 -10/60");
        row("bad CRC", example.chopped(2) + "00", "bad reading");
        row("cut short", example.left(15), "bad reading");
        row("bytes after", example + " 55", "reading 1 23.5/55");  // not looked at
        row("exception", " 01 84 02 C2 C1", "other");
        row("echo of a write", receiveText(writeRegisterRequest(1, 0, 2)), "other");
        // One or two bytes stay in the box.
        row("one byte", " 01", "incomplete");
        row("two bytes", " 01 04", "incomplete");
        row("three bytes", " 01 83 02", "other");
        row("blanks", "  ", "empty");
        row("model", receiveText(modelFrame(0x11, 0x00A7)), "model 17 00A7");
        row("bad model", " 11 03 02 00 A7 00 00", "bad model");
    }
    void analyseReplies() {
        QFETCH(QString, text);
        const char *kinds[] = {"empty", "incomplete", "reading", "bad reading",
                               "model", "bad model",  "other"};
        const AcquisitionReply r = analyseReply(text);
        QString got = QString::fromUtf8(kinds[int(r.kind)]);
        if (r.kind == ReplyKind::Reading)
            got += QString(" %1 ").arg(r.address) + r.reading.temperatureText() + "/" +
                   r.reading.humidityText();
        if (r.kind == ReplyKind::SearchAnswer)
            got += QString(" %1 ").arg(r.address) + r.model;
        QTEST(got, "kind");
    }

    // A record period from the scan column.
    void recordSeconds_data() {
        QTest::addColumn<QVariant>("scan");
        QTest::addColumn<int>("seconds");
        const QList<QPair<QVariant, int>> scans = {
            {qint64(60), 60},   {qint64(0), 0},  {qint64(32767), 32767},
            {qint64(32768), 0}, {qint64(-5), 0}, {QVariant(), 0},
            {" 30 ", 30},       {"abc", 0},      {59.6, 60}};
        for (const auto &[scan, seconds] : scans)
            QTest::addRow("'%s'", scan.isValid() ? qPrintable(scan.toString()) : "null")
                << scan << seconds;
    }
    void recordSeconds() {
        QFETCH(QVariant, scan);
        QTEST(recordSecondsOf(scan), "seconds");
    }

    // A text typed into a box, as a bus address, a record period and a poll
    // period (-1: refused); addresses and periods are rounded, halves to even.
    void typedNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("ms");
        const struct {
            const char *text;
            int address, seconds, ms;
        } typed[] = {
            {"2", 2, 2, 2},           {" 60 ", 60, 60, 60},        {"0", 0, 0, -1},
            {"255", 255, 255, 255},   {"256", -1, 256, 256},       {"32767", -1, 32767, 32767},
            {"32768", -1, -1, 32768}, {"99999999999", -1, -1, -1}, {"-1", -1, -1, -1},
            {"1.5", 2, -1, 2},        {"2.5", 2, -1, 2},           {"600.4", -1, -1, 600},
            {"0.4", 0, -1, -1},       {"255.5", -1, -1, 256},      {"6o0", -1, -1, -1},
            {"6 0", -1, -1, -1},      {"6'", -1, -1, -1},          {"", -1, -1, -1}};
        for (const auto &t : typed)
            QTest::addRow("'%s'", t.text) << t.text << t.address << t.seconds << t.ms;
    }
    void typedNumbers() {
        QFETCH(QString, text);
        const auto address = parseBusAddress(text);
        QTEST(address ? int(*address) : -1, "address");
        QTEST(parseRecordSeconds(text).value_or(-1), "seconds");
        QTEST(parsePeriodMs(text).value_or(-1), "ms");
    }

    void loadList() {
        LiteConnection conn;
        TestDatabase db(conn);
        ModuleListModel list;
        QAbstractItemModelTester tester(&list,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        db.addModule(5, "0007");
        db.exec(
            "insert into dbQx7 (adr, name, enorno, temp, hum, scan, alarm) "
            "values ('6', 'X', '否', null, null, 'abc', '是')");
        db.exec("insert into dbQx7 (adr, name, scan) values ('7', 'Y', -3)");
        // Listed, but never polled: the reason is in the row's tip and in problems().
        db.exec("insert into dbQx7 (adr, name) values ('300', 'Z')");
        db.exec("insert into dbQx7 (adr, name, enorno) values ('8', 'Z', '')");
        // More than 256 modules.
        db.exec(
            "with recursive n(i) as (select 8 union all select i+1 from n where i<307) "
            "insert into dbQx7 (adr, name) select i, 'Z' from n");
        QVERIFY(list.load(conn));
        QCOMPARE(list.rowCount(), 305);
        // (the 52 modules above 255 of the long list are told too)
        QCOMPARE(list.problems().size(), 4 + 52);
        QCOMPARE(list.problems().mid(0, 4),
                 (QStringList{"模块“6”的记录周期“abc”不是0到32767的整数，其数据不会被记录",
                              "模块“7”的记录周期“-3”不是0到32767的整数，其数据不会被记录",
                              "模块“300”的地址不是0到255的整数，不会被采集",
                              "模块“8”的启用值“”既不是“是”也不是“否”，不会被采集"}));
        QCOMPARE(list.data(list.index(3, 0), Qt::ToolTipRole).toString(), list.problems()[2]);
        QVERIFY(!list.data(list.index(0, 0), Qt::ToolTipRole).isValid());
        QStringList headers, first;
        for (int c = 0; c < list.columnCount(); ++c) {
            headers << list.headerData(c, Qt::Horizontal).toString();
            first << list.data(list.index(0, c)).toString();
        }
        QCOMPARE(headers.join(","), "地址,模块型号,启用,温度,湿度,记录周期,报警");
        // A module added by the search shows the schema's defaults.
        QCOMPARE(first.join("|"), "5|0007|是|||60|否");
        // Null cells show empty; a scan that is no period keeps its text and means never.
        QCOMPARE(list.at(2).temperature + list.at(2).recordPeriod, "abc");
        QCOMPARE(list.recordPeriods().mid(0, 3), (QList<int>{60, 0, 0}));
        QVERIFY(list.isRegistered(255) && !list.isRegistered(4));
    }
};

QTEST_GUILESS_MAIN(TestAcquisitionCycle)
#include "tst_acquisitioncycle.moc"
