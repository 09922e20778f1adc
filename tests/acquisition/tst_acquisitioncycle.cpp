// The polling engine without its window: which module a tick polls, what an
// unanswered poll marks, which replies are believed, counters, run time, the
// record schedule, the list load and the one-transaction record store.
#include "ModuleReplies.h"
#include "acquisition/AcquisitionCycle.h"
#include "acquisition/AcquisitionReply.h"
#include "acquisition/BusSearch.h"
#include "acquisition/ModuleList.h"
#include "acquisition/RecordStore.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QAbstractItemModelTester>
#include <QTest>

namespace {
ModuleRow row(const QString &address, const QString &enabled = QStringLiteral("是"), int period = 0)
{
    ModuleRow r;
    r.address = address;
    r.model = QStringLiteral("0007");
    r.enabled = enabled;
    r.temperature = QStringLiteral("t");
    r.humidity = QStringLiteral("h");
    r.recordSeconds = period;
    r.recordPeriod = QString::number(period);
    r.alarm = QStringLiteral("否");
    return r;
}

// Enabled flags as a string: 'y' 是, 'n' 否, '-' empty; addresses 1, 2, 3 ...
QList<ModuleRow> rows(const char *flags)
{
    QList<ModuleRow> out;
    for (int i = 0; flags[i]; ++i) {
        const QString enabled = flags[i] == 'y'   ? QStringLiteral("是")
                                : flags[i] == 'n' ? QStringLiteral("否")
                                                  : QString();
        out << row(QString::number(i + 1), enabled);
    }
    return out;
}

Measurement reading(int t, int h)
{
    Measurement m;
    m.temperatureRaw = qint16(t);
    m.humidityRaw = quint16(h);
    return m;
}

// Runs `ticks` poll ticks without any reply; returns the positions polled (0: nothing sent).
QList<int> pollWithoutReplies(AcquisitionCycle &cycle, ModuleListModel &list, int ticks)
{
    QList<int> polled;
    for (int i = 0; i < ticks; ++i) {
        const PollStep step = cycle.tick(list);
        cycle.requestSent(step);
        polled << step.position;
    }
    return polled;
}
}  // namespace

class TestAcquisitionCycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pollOrder_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QList<int>>("polled");
        // The index is advanced before use: the first tick polls position 2.
        QTest::newRow("three enabled, wrap-around") << "yyy" << QList<int>{2, 3, 1, 2, 3, 1};
        QTest::newRow("one module") << "y" << QList<int>{1, 1, 1};
        // Reaching the last position while skipping ends the tick without sending.
        QTest::newRow("only the first enabled") << "ynn" << QList<int>{0, 1, 0, 1, 0};
        QTest::newRow("middle disabled") << "yny" << QList<int>{3, 1, 3, 1};
        QTest::newRow("nothing enabled") << "nnn" << QList<int>{0, 0, 0, 0};
        QTest::newRow("empty list") << "" << QList<int>{0, 0};
        // An empty 启用 cell stops the search but is not polled.
        QTest::newRow("empty enabled cell") << "y-y" << QList<int>{0, 3, 1, 0, 3};
    }

    void pollOrder()
    {
        QFETCH(QString, flags);
        QFETCH(QList<int>, polled);
        ModuleListModel list;
        list.setRows(rows(flags.toLatin1().constData()));
        AcquisitionCycle cycle;
        cycle.start();
        QCOMPARE(pollWithoutReplies(cycle, list, int(polled.size())), polled);
    }

    void nothingEnabledCountsNothing()
    {
        ModuleListModel list;
        list.setRows(rows("nnn"));
        AcquisitionCycle cycle;
        cycle.start();
        pollWithoutReplies(cycle, list, 10);
        QCOMPARE(cycle.failCount, 0);
        QCOMPARE(cycle.okCount, 0);
        QVERIFY(cycle.gotReply);
        QCOMPARE(list.at(1).temperature, QStringLiteral("t"));
    }

    void unansweredPollMarkedOnce()
    {
        ModuleListModel list;
        list.setRows(rows("ynn"));
        AcquisitionCycle cycle;
        cycle.start();
        QCOMPARE(cycle.tick(list).position, 0);  // skips to the end: nothing sent
        PollStep step = cycle.tick(list);
        QCOMPARE(step.position, 1);
        cycle.requestSent(step);
        QVERIFY(!cycle.gotReply);

        // The next tick marks position 1, then reaches the end without sending
        // and leaves gotReply false.
        step = cycle.tick(list);
        QCOMPARE(step.failedPosition, 1);
        QCOMPARE(step.position, 0);
        QVERIFY(!cycle.gotReply);
        QCOMPARE(cycle.failCount, 1);
        QCOMPARE(list.at(1).temperature, QStringLiteral("0"));
        QCOMPARE(list.at(1).humidity, QStringLiteral("0"));

        // One missed reply is one failure: the tick after it neither counts a
        // second one nor marks the disabled module at the last position.
        step = cycle.tick(list);
        QCOMPARE(step.failedPosition, 0);
        QCOMPARE(step.position, 1);
        QCOMPARE(cycle.failCount, 1);
        QCOMPARE(list.at(3).temperature, QStringLiteral("t"));
    }

    void badAddressNotPolled()
    {
        ModuleListModel list;
        list.setRows(
            {row(QStringLiteral("1")), row(QStringLiteral("256")), row(QStringLiteral("x"))});
        AcquisitionCycle cycle;
        cycle.start();
        QCOMPARE(pollWithoutReplies(cycle, list, 3), (QList<int>{0, 0, 1}));
        QCOMPARE(cycle.failCount, 0);  // nothing was sent, nothing failed
    }

    void readingsBelievedOnlyFromThePolledModule()
    {
        ModuleListModel list;
        list.setRows(rows("yy"));
        AcquisitionCycle cycle;
        cycle.start();
        QVERIFY(!cycle.takeReading(list, 2, reading(1, 1)));  // nothing polled yet
        PollStep step = cycle.tick(list);
        cycle.requestSent(step);
        QCOMPARE(step.address, quint8(2));
        QVERIFY(!cycle.takeReading(list, 1, reading(1, 1)));  // another module
        QVERIFY(!cycle.gotReply);
        QVERIFY(cycle.takeReading(list, 2, reading(235, 550)));
        QVERIFY(cycle.gotReply);
        QCOMPARE(cycle.okCount, 1);
        QCOMPARE(list.at(2).temperature, QStringLiteral("23.5"));
        QCOMPARE(list.at(2).humidity, QStringLiteral("55"));
        QVERIFY(list.at(2).fresh);
        // A second reply to the same poll is not counted again.
        QVERIFY(!cycle.takeReading(list, 2, reading(235, 550)));
        QCOMPARE(cycle.okCount, 1);

        // The list loaded anew while a poll is out, another module now at that
        // position: its reply is not credited to the wrong row, and the
        // failure marks nothing on it.
        step = cycle.tick(list);
        cycle.requestSent(step);
        QCOMPARE(step.position, 1);
        list.setRows({row(QStringLiteral("7")), row(QStringLiteral("2"))});
        QVERIFY(!cycle.takeReading(list, 1, reading(5, 5)));
        step = cycle.tick(list);
        QCOMPARE(step.failedPosition, 1);
        QCOMPARE(list.at(1).temperature, QStringLiteral("t"));
        QCOMPARE(cycle.failCount, 1);
    }

    void countersSaturate()
    {
        ModuleListModel list;
        list.setRows(rows("y"));
        AcquisitionCycle cycle;
        cycle.okCount = std::numeric_limits<qint32>::max();
        cycle.failCount = std::numeric_limits<qint32>::max() - 1;
        cycle.start();
        for (int i = 0; i < 3; ++i) {
            PollStep step = cycle.tick(list);
            cycle.requestSent(step);
            cycle.takeReading(list, 1, reading(1, 1));
        }
        pollWithoutReplies(cycle, list, 4);
        QCOMPARE(cycle.okCount, std::numeric_limits<qint32>::max());
        QCOMPARE(cycle.failCount, std::numeric_limits<qint32>::max());
        QVERIFY(cycle.counterText().endsWith(QStringLiteral("失败次数：2147483647")));
    }

    void resetCountersWhileAcquiring()
    {
        ModuleListModel list;
        list.setRows(rows("y"));
        AcquisitionCycle cycle;
        cycle.start();
        pollWithoutReplies(cycle, list, 3);
        QCOMPARE(cycle.failCount, 2);
        cycle.resetCounters();
        pollWithoutReplies(cycle, list, 1);
        QCOMPARE(cycle.counterText(), QStringLiteral("成功采集次数：0 失败次数：1"));
        QCOMPARE(AcquisitionCycle::resetCounterText(),
                 QStringLiteral("采集成功次数：0 失败次数：0"));
    }

    void runTime()
    {
        RunTime t;
        QCOMPARE(t.text(), QStringLiteral("0小时0分0秒"));
        t.min = 59;
        t.sec = 58;
        t.tick();
        QCOMPARE(t.text(), QStringLiteral("0小时59分59秒"));
        t.tick();
        QCOMPARE(t.text(), QStringLiteral("1小时0分0秒"));
        for (int i = 0; i < 3903; ++i) t.tick();
        QCOMPARE(t.text(), QStringLiteral("2小时5分3秒"));

        t.hour = std::numeric_limits<qint32>::max();
        t.min = 59;
        t.sec = 59;
        t.tick();
        QCOMPARE(t.hour, std::numeric_limits<qint32>::max());
        QCOMPARE(t.min, 59);
        QCOMPARE(t.sec, 59);
    }

    void schedule()
    {
        RecordSchedule s;
        s.reset({3, 0, 1});
        QList<QList<int>> due;
        for (int i = 0; i < 8; ++i) due << s.tick();
        // Period 3: first on the 4th tick, then every 3. Period 1: from the 2nd
        // tick on, every tick. Period 0: never.
        const QList<QList<int>> expected = {{}, {3}, {3}, {1, 3}, {3}, {3}, {1, 3}, {3}};
        QCOMPARE(due, expected);

        // A record that could not be stored is due again at the next tick.
        s.retry({1});
        QCOMPARE(s.tick(), (QList<int>{1, 3}));
        QCOMPARE(s.tick(), (QList<int>{3}));
        QCOMPARE(s.countdown(1), 1);
    }

    void recordsOnlyFromFreshReadings()
    {
        ModuleListModel list;
        QList<ModuleRow> r = rows("yny");
        for (ModuleRow &m : r) m.recordSeconds = 1;
        list.setRows(r);
        AcquisitionCycle cycle;
        cycle.schedule.reset(list.recordPeriods());
        cycle.start();
        QVERIFY(cycle.secondTick(list).isEmpty());  // countdowns still at 1
        // Nothing read yet: the loaded texts are never recorded.
        QVERIFY(cycle.secondTick(list).isEmpty());

        PollStep step = cycle.tick(list);
        QCOMPARE(step.position, 3);
        cycle.requestSent(step);
        QVERIFY(cycle.takeReading(list, 3, reading(-100, 455)));
        step = cycle.tick(list);  // polls 1, which does not answer
        QCOMPARE(step.position, 1);
        cycle.requestSent(step);
        const QList<DueRecord> records = cycle.secondTick(list);
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].position, 3);
        QCOMPARE(records[0].address, QStringLiteral("3"));
        QCOMPARE(records[0].temperature, QStringLiteral("-10"));
        QCOMPARE(records[0].humidity, QStringLiteral("45.5"));

        // A failed poll shows "0" on screen only; the disabled module is never
        // recorded.
        cycle.tick(list);
        QCOMPARE(list.at(1).temperature, QStringLiteral("0"));
        QVERIFY(!list.at(1).fresh);
        const QList<DueRecord> next = cycle.secondTick(list);
        QCOMPARE(next.size(), 1);
        QCOMPARE(next[0].position, 3);
        QCOMPARE(cycle.runTime.text(), QStringLiteral("0小时0分4秒"));
    }

    void analyseReplies_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("values");  // temperature/humidity or model

        const QString example = receiveText(readingFrame(1, 0x00EB, 0x0226));
        QTest::newRow("reading") << example << int(ReplyKind::Reading) << 1 << "23.5/55";
        QTest::newRow("negative temperature") << receiveText(readingFrame(3, 0xFF9C, 0x0258))
                                              << int(ReplyKind::Reading) << 3 << "-10/60";
        QTest::newRow("lowest temperature") << receiveText(readingFrame(3, 0x8000, 0))
                                            << int(ReplyKind::Reading) << 3 << "-3276.8/0";
        QTest::newRow("humidity unsigned") << receiveText(readingFrame(3, 0x7FFF, 0xFFFF))
                                           << int(ReplyKind::Reading) << 3 << "3276.7/6553.5";
        QString badCrc = example;
        badCrc.chop(2);
        badCrc += QStringLiteral("00");
        QTest::newRow("bad crc") << badCrc << int(ReplyKind::BadReading) << 0 << "";
        QTest::newRow("cut short") << example.left(15) << int(ReplyKind::BadReading) << 0 << "";
        QTest::newRow("trailing bytes ignored")
            << example + QStringLiteral(" 55") << int(ReplyKind::Reading) << 1 << "23.5/55";
        QTest::newRow("exception")
            << QStringLiteral(" 01 84 02 C2 C1") << int(ReplyKind::Other) << 0 << "";
        QTest::newRow("echo of a write")
            << receiveText(writeRegisterRequest(1, 0, 2)) << int(ReplyKind::Other) << 0 << "";
        QTest::newRow("one byte") << QStringLiteral(" 01") << int(ReplyKind::Other) << 0 << "";
        QTest::newRow("blanks") << QStringLiteral("  ") << int(ReplyKind::Empty) << 0 << "";
        QTest::newRow("model") << receiveText(modelFrame(0x11, 0x00A7))
                               << int(ReplyKind::SearchAnswer) << 0x11 << "00A7";
        QTest::newRow("model bad crc")
            << QStringLiteral(" 11 03 02 00 A7 00 00") << int(ReplyKind::BadSearch) << 0 << "";
    }

    void analyseReplies()
    {
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(int, address);
        QFETCH(QString, values);
        const AcquisitionReply r = analyseReply(text);
        QCOMPARE(int(r.kind), kind);
        if (r.kind == ReplyKind::Reading) {
            QCOMPARE(int(r.address), address);
            QCOMPARE(r.reading.temperatureText() + "/" + r.reading.humidityText(), values);
        } else if (r.kind == ReplyKind::SearchAnswer) {
            QCOMPARE(int(r.address), address);
            QCOMPARE(r.model, values);
        }
    }

    void recordSeconds_data()
    {
        QTest::addColumn<QVariant>("scan");
        QTest::addColumn<int>("seconds");
        QTest::newRow("integer") << QVariant(qint64(60)) << 60;
        QTest::newRow("zero") << QVariant(qint64(0)) << 0;
        QTest::newRow("largest") << QVariant(qint64(32767)) << 32767;
        QTest::newRow("too large") << QVariant(qint64(32768)) << 0;
        QTest::newRow("negative") << QVariant(qint64(-5)) << 0;
        QTest::newRow("null") << QVariant() << 0;
        QTest::newRow("text number") << QVariant(QStringLiteral(" 30 ")) << 30;
        QTest::newRow("text") << QVariant(QStringLiteral("abc")) << 0;
        QTest::newRow("real") << QVariant(59.6) << 60;
    }

    void recordSeconds()
    {
        QFETCH(QVariant, scan);
        QFETCH(int, seconds);
        QCOMPARE(recordSecondsOf(scan), seconds);
    }

    void loadList()
    {
        LiteConnection conn;
        TestDatabase db(conn);
        ModuleListModel list;
        QAbstractItemModelTester tester(&list,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(list.load(conn));
        QCOMPARE(list.count(), 0);

        db.addModule(5, QStringLiteral("0007"));
        db.exec(
            QStringLiteral("insert into dbQx7 (adr, name, enorno, temp, hum, scan, alarm) "
                           "values ('6', 'X', '否', null, null, 'abc', '是')"));
        db.exec(QStringLiteral("insert into dbQx7 (adr, name, scan) values ('7', 'Y', -3)"));
        // More modules than the old 256-row limit.
        db.exec(QStringLiteral(
            "with recursive n(i) as (select 8 union all select i+1 from n where i<307) "
            "insert into dbQx7 (adr, name) select i, 'Z' from n"));
        QVERIFY(list.load(conn));
        QCOMPARE(list.count(), 303);
        QCOMPARE(list.rowCount(), 303);
        QCOMPARE(list.columnCount(), 7);
        QStringList headers;
        for (int c = 0; c < list.columnCount(); ++c)
            headers << list.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers.join(QLatin1Char(',')),
                 QStringLiteral("地址,模块型号,启用,温度,湿度,记录周期,报警"));

        // A module added by the search shows the schema's defaults.
        QStringList first;
        for (int c = 0; c < 7; ++c) first << list.data(list.index(0, c)).toString();
        QCOMPARE(first.join(QLatin1Char('|')), QStringLiteral("5|0007|是|||60|否"));
        QCOMPARE(list.at(1).recordSeconds, 60);
        QCOMPARE(list.at(2).temperature, QString());
        QCOMPARE(list.at(2).recordPeriod, QStringLiteral("abc"));
        QCOMPARE(list.at(2).recordSeconds, 0);
        QCOMPARE(list.at(3).recordSeconds, 0);
        QVERIFY(!list.at(1).fresh);
        QVERIFY(list.isRegistered(255));
        QVERIFY(!list.isRegistered(4));

        conn.Execute(QStringLiteral("drop table dbQx7"));
        QString error;
        QVERIFY(!list.load(conn, &error));
        QVERIFY(error.contains(QStringLiteral("dbQx7")));
        QCOMPARE(list.count(), 0);
    }

    void storeInOneTransaction()
    {
        LiteConnection conn;
        TestDatabase db(conn);
        const QList<DueRecord> records = {{1, "3", "23.5", "61.2"}, {2, "99", "-10", "40"}};
        QVERIFY(storeRecords(conn, records));
        QCOMPARE(
            db.rows(QStringLiteral("select adr, temp, hum, length(mydate) from th order by id")),
            (QList<QVariantList>{{3, 23.5, 61.2, 19}, {99, -10.0, 40.0, 19}}));

        // The second insert fails: the first one is not kept either.
        db.exec(
            QStringLiteral("create trigger diskfull before insert on th when new.adr = 99 "
                           "begin select raise(abort, 'database or disk is full'); end"));
        QString error;
        QVERIFY(!storeRecords(conn, records, &error));
        QVERIFY(error.contains(QStringLiteral("disk is full")));
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from th")).toInt(), 2);
        QVERIFY(storeRecords(conn, {}));
    }

    void periodText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("ms");  // 0: refused
        QTest::newRow("default") << "600" << 600;
        QTest::newRow("blanks") << " 50 " << 50;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-5" << 0;
        QTest::newRow("decimal") << "600.5" << 0;
        QTest::newRow("letters") << "6o0" << 0;
        QTest::newRow("too large") << "99999999999" << 0;
    }

    void periodText()
    {
        QFETCH(QString, text);
        QFETCH(int, ms);
        QCOMPARE(parsePeriodMs(text).value_or(0), ms);
    }
    void searchProbesEveryAddressOnce()
    {
        BusSearch search;
        search.start();
        QList<int> probed;
        BusSearch::Probe p;
        do {
            p = search.next();
            probed << p.address;
        } while (!p.last);
        QCOMPARE(probed.size(), 255);
        QCOMPARE(probed.first(), 1);
        QCOMPARE(probed.last(), 255);
        QCOMPARE(BusSearch::caption(17), QStringLiteral("地址：17"));
        QCOMPARE(BusSearch::question(3, QStringLiteral("0007")),
                 QStringLiteral("找到地址为3型号为0007的模块，要加到系统中吗?"));
    }

    void typedNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");  // -1: refused
        QTest::addColumn<int>("seconds");  // -1: refused
        QTest::newRow("plain") << "2" << 2 << 2;
        QTest::newRow("blanks") << " 60 " << 60 << 60;
        QTest::newRow("zero") << "0" << 0 << 0;
        QTest::newRow("255") << "255" << 255 << 255;
        QTest::newRow("256") << "256" << -1 << 256;
        QTest::newRow("largest period") << "32767" << -1 << 32767;
        QTest::newRow("too long a period") << "32768" << -1 << -1;
        QTest::newRow("negative") << "-1" << -1 << -1;
        QTest::newRow("decimal") << "1.5" << -1 << -1;
        QTest::newRow("inner blank") << "6 0" << -1 << -1;
        QTest::newRow("quote") << "6'" << -1 << -1;
        QTest::newRow("empty") << "" << -1 << -1;
    }

    void typedNumbers()
    {
        QFETCH(QString, text);
        QFETCH(int, address);
        QFETCH(int, seconds);
        const auto a = parseBusAddress(text);
        QCOMPARE(a ? int(*a) : -1, address);
        QCOMPARE(parseRecordSeconds(text).value_or(-1), seconds);
    }
};

QTEST_GUILESS_MAIN(TestAcquisitionCycle)
#include "tst_acquisitioncycle.moc"
