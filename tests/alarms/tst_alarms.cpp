// The alarm decisions as a table (each limit, the hysteresis, the no-reply
// alarm, the flag off, limits changed or removed while an alarm is on), the
// checks of the editor's limit boxes, and the limits as stored.
#include "alarms/AlarmLimits.h"
#include "alarms/AlarmMonitor.h"
#include "store/LiteConnection.h"
#include "store/ValueText.h"
#include "support/TestDatabase.h"

#include <QTest>

namespace {
// "TL/TH/HL/HH", each empty for no limit.
AlarmLimits limitsOf(const QString &text) {
    const QStringList parts = text.split(u'/');
    AlarmLimits out;
    const QString message = alarmlimits::parse({parts[0], parts[1], parts[2], parts[3]}, &out);
    if (!message.isEmpty())
        qFatal("bad limits in the table: %s", qPrintable(text));
    return out;
}

QString describe(const QList<AlarmEvent> &events) {
    QStringList out;
    for (const AlarmEvent &e : events)
        out << e.kindText() + u' ' + e.stateText() + (e.value ? u' ' + numberText(*e.value) : "");
    return out.join("; ");
}
}  // namespace

class TestAlarms : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Module 3 watched with `limits` ("off": its 报警 is 否), then the steps,
    // each "step=what it starts and ends" (nothing after '=' when nothing):
    // "T,H" a reading, "x" a poll without a valid reply, "limits TL/TH/HL/HH"
    // the list loaded again with these limits, "unreadable" loaded again when
    // the limits could not be read, "off" loaded again with the flag 否.
    void decisions_data() {
        QTest::addColumn<QString>("limits");
        QTest::addColumn<QStringList>("steps");
        const auto row = [](const char *name, const char *limits, const QStringList &steps) {
            QTest::newRow(name) << QString(limits) << steps;
        };
        row("no limits: only the no-reply alarm", "///",
            {"-50,0=", "120,100=", "x=", "x=", "x=无应答 开始", "x=", "20,50=无应答 结束"});
        row("two failures, a reply, two more: no alarm", "///",
            {"x=", "x=", "20,50=", "x=", "x=", "x=无应答 开始"});
        row("lower temperature limit, 0.5 back to end", "-4///",
            {"-3.9,50=", "-4,50=", "-4.1,50=温度过低 开始 -4.1", "-6,50=", "-3.6,50=",
             "-3.5,50=温度过低 结束 -3.5", "-4,50=", "-4.1,50=温度过低 开始 -4.1"});
        row("upper temperature limit", "/30//",
            {"30,50=", "30.1,50=温度过高 开始 30.1", "29.6,50=", "29.5,50=温度过高 结束 29.5"});
        row("lower humidity limit, 1 back to end", "//20/",
            {"20,20=", "20,19.9=湿度过低 开始 19.9", "20,20.9=", "20,21=湿度过低 结束 21"});
        row("upper humidity limit", "///80",
            {"20,80=", "20,80.1=湿度过高 开始 80.1", "20,79.1=", "20,79=湿度过高 结束 79"});
        row("a limit with more digits than a reading", "/25.35//",
            {"25.3,50=", "25.4,50=温度过高 开始 25.4", "24.9,50=", "24.8,50=温度过高 结束 24.8"});
        row("from below the lower limit to above the upper one", "-4/30/20/80",
            {"-5,50=温度过低 开始 -5", "31,50=温度过低 结束 31; 温度过高 开始 31",
             "31,10=湿度过低 开始 10",
             "20,90=温度过高 结束 20; 湿度过低 结束 90; 湿度过高 开始 90"});
        row("no reply while the temperature alarm is on", "-4///",
            {"-5,50=温度过低 开始 -5", "x=", "x=", "x=无应答 开始", "-5,50=无应答 结束",
             "0,50=温度过低 结束 0"});
        row("flag 否: nothing at all", "off", {"-50,0=", "x=", "x=", "x=", "x="});
        row("limit lowered while in alarm: the next reading decides", "-4///",
            {"-5,50=温度过低 开始 -5", "limits -6///=", "-5,50=温度过低 结束 -5",
             "-6.1,50=温度过低 开始 -6.1"});
        row("limit raised while in alarm: stays on", "-4///",
            {"-5,50=温度过低 开始 -5", "limits -2///=", "-3,50=", "-1.5,50=温度过低 结束 -1.5"});
        row("limit removed while in alarm: ends at once", "-4///",
            {"-5,50=温度过低 开始 -5", "limits ///=温度过低 结束", "-50,50="});
        row("limits unreadable: the old ones stay", "-4///",
            {"-5,50=温度过低 开始 -5", "unreadable=", "-3.6,50=", "-3.5,50=温度过低 结束 -3.5"});
        row("flag turned off while in alarm: everything ends", "-4///",
            {"-5,50=温度过低 开始 -5", "x=", "x=", "x=无应答 开始",
             "off=温度过低 结束; 无应答 结束", "-5,50="});
        row("flag turned on: watched from then on", "off",
            {"-5,50=", "limits -4///=", "-5,50=温度过低 开始 -5"});
        row("a limit added: the next reading decides", "///",
            {"-5,50=", "limits -4///=", "-5,50=温度过低 开始 -5"});
    }
    void decisions() {
        QFETCH(QString, limits);
        QFETCH(QStringList, steps);
        AlarmMonitor m;
        // Another module goes through the same: it must not disturb module 3.
        auto watch = [&](const QString &l) {
            QList<WatchedModule> w{{7, AlarmLimits{}}};
            if (l == "unreadable")
                w << WatchedModule{3, std::nullopt};
            else if (l != "off")
                w << WatchedModule{3, limitsOf(l)};
            return m.watch(w, "t");
        };
        QCOMPARE(describe(watch(limits)), QString());
        for (const QString &s : steps) {
            const QString step = s.section(u'=', 0, 0);
            QList<AlarmEvent> events;
            m.noReply(7, "t");
            if (step == "x") {
                events = m.noReply(3, "t");
            } else if (step.startsWith("limits ") || step == "unreadable" || step == "off") {
                events = watch(step.startsWith("limits ") ? step.mid(7) : step);
            } else {
                const QStringList v = step.split(u',');
                events = m.reading(3, v[0].toDouble(), v[1].toDouble(), "t");
            }
            QCOMPARE(step + "=" + describe(events), s);
        }
    }

    // Every event carries its module, its time and its value; the alarms on
    // are listed by module and kind, with the time each began. Of two rows of
    // one address the first counts. (That they end, and the line with them, is
    // seen on the window.)
    void eventsAndTheAlarmsOn() {
        AlarmMonitor m;
        AlarmLimits cold;
        cold.tempLow = -4;
        QVERIFY(m.watch({{5, AlarmLimits{}}, {3, cold}, {3, AlarmLimits{}}}, "t0").isEmpty());
        QCOMPARE(m.reading(3, -4.5, 80, "2024-03-05 10:00:00"),
                 (QList<AlarmEvent>{
                     {3, AlarmKind::TempLow, true, -4.5, QStringLiteral("2024-03-05 10:00:00")}}));
        for (int i = 0; i < 3; ++i) m.noReply(5, "2024-03-05 10:00:02");
        QCOMPARE(m.alarmedAddresses(), (QList<quint8>{3, 5}));
        QCOMPARE(m.activeText(),
                 "正在报警：模块3 温度过低（始于2024-03-05 10:00:00）；"
                 "模块5 无应答（始于2024-03-05 10:00:02）");
    }

    // The editor's boxes: empty for none, a number, the lower below the upper;
    // a refusal names the box. Each case gives the limits as texts, or the message.
    void limitBoxes_data() {
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("result");
        const auto row = [](const char *name, const QStringList &boxes, const QString &result) {
            QTest::newRow(name) << boxes << result;
        };
        const QString notANumber = "”不是数字，请输入一个数，或留空表示不设限。";
        row("none", {"", " ", "", ""}, "///");
        row("all four", {" -4.0 ", "30", "20.5", "80"}, "-4/30/20.5/80");
        row("one", {"", "", "", "95"}, "///95");
        row("word", {"", "abc", "", ""}, "温度上限“abc" + notANumber);
        row("exponent", {"1e3", "", "", ""}, "温度下限“1e3" + notANumber);
        row("comma", {"", "", "20,5", ""}, "湿度下限“20,5" + notANumber);
        row("quote", {"", "", "", "80'"}, "湿度上限“80'" + notANumber);
        row("temperatures equal", {"10", "10", "", ""}, "温度下限必须低于温度上限，请重新输入。");
        row("humidities crossed", {"", "", "60", "40"}, "湿度下限必须低于湿度上限，请重新输入。");
        // A lower limit alone may lie above an upper limit of the other kind.
        row("kinds apart", {"50", "", "", "40"}, "50///40");
    }
    void limitBoxes() {
        QFETCH(QStringList, boxes);
        AlarmLimits limits;
        QString got = alarmlimits::parse({boxes[0], boxes[1], boxes[2], boxes[3]}, &limits);
        if (got.isEmpty()) {
            const AlarmLimitTexts t = alarmlimits::texts(limits);
            got = t.tempLow + "/" + t.tempHigh + "/" + t.humLow + "/" + t.humHigh;
        }
        QTEST(got, "result");
    }

    // Stored and read back: no table means no limits (that nothing is written
    // then is seen in the editor's tests); a cell that holds no number is no
    // limit.
    void limitsStored() {
        LiteConnection conn;
        TestDatabase db(conn);
        QHash<QString, AlarmLimits> all;
        QVERIFY(alarmlimits::loadAll(conn, &all));
        QVERIFY(all.isEmpty());

        QVERIFY(executeTogether(conn, alarmlimits::saveStatements(conn, "3", limitsOf("-4///80"))));
        QVERIFY(executeTogether(conn, alarmlimits::saveStatements(conn, "5", limitsOf("/30.5//"))));
        QVERIFY(executeTogether(conn, alarmlimits::saveStatements(conn, "3", limitsOf("-4.5///"))));
        db.exec("insert into alarmlimit values (' 9 ', 'abc', '12', NULL, NULL)");
        QVERIFY(alarmlimits::loadAll(conn, &all));
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.value("3"), limitsOf("-4.5///"));
        QCOMPARE(all.value("5"), limitsOf("/30.5//"));
        QCOMPARE(all.value("9"), limitsOf("/12//"));
        QCOMPARE(db.rows("select typeof(tlow), typeof(hhigh) from alarmlimit where adr='3'"),
                 (QList<QVariantList>{{"real", "null"}}));

        // Without limits the row goes.
        QVERIFY(executeTogether(conn, alarmlimits::saveStatements(conn, "5", {})));
        QVERIFY(alarmlimits::loadAll(conn, &all));
        QVERIFY(!all.contains("5"));

        // A database that cannot be read is said, and gives no limits.
        conn.Close();
        QString error;
        QVERIFY(!alarmlimits::loadAll(conn, &all, &error));
        QVERIFY(all.isEmpty());
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAlarms)
#include "tst_alarms.moc"
