// The acquisition end to end: the window polls the simulator's modules over a
// pseudo-terminal through the program's real serial port, end-of-frame timer
// and routing, and stores records; the simulator's exchange log says what
// really went over the line.
#include "acquisition/ModuleList.h"
#include "acquisition/ModuleWindow.h"
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/Frames.h"
#include "bus/SerialPort.h"
#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {
// One exchange of the simulator's log.
struct Exchange {
    int address = 0;
    bool answered = false;  // a reply went on the line
    bool good = false;      // ... and its CRC checks
    QString temperature, humidity;
};

QList<Exchange> measurementExchanges(const QString &log)
{
    static const QRegularExpression line(
        QStringLiteral("tty ([0-9A-F]{2}) 04 00 00 00 02 [0-9A-F ]{5} -> (.*)$"),
        QRegularExpression::MultilineOption);
    QList<Exchange> out;
    for (auto it = line.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        Exchange e;
        e.address = m.captured(1).toInt(nullptr, 16);
        const QString rest = m.captured(2);
        if (!rest.startsWith(QStringLiteral("silent")) &&
            !rest.startsWith(QStringLiteral("dropped"))) {
            e.answered = true;
            const QByteArray bytes =
                QByteArray::fromHex(rest.left(26).remove(QLatin1Char(' ')).toLatin1());
            e.good = bytes.size() == 9 && crcMatches(bytes);
            const Measurement reading = decodeMeasurement(bytes);
            e.temperature = reading.temperatureText();
            e.humidity = reading.humidityText();
        }
        out << e;
    }
    return out;
}

struct Counts {
    int requests = 0, good = 0;
};

Counts count(const QList<Exchange> &exchanges)
{
    Counts c;
    for (const Exchange &e : exchanges) {
        ++c.requests;
        c.good += e.good ? 1 : 0;
    }
    return c;
}

// Runs the event loop (without the pauses of QTest::qWait, which would slow
// a fast search down) until `done` holds or the time is up.
bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

// The program on the simulator's line, with the acquisition window open.
struct Bench {
    SimProcess sim;
    std::unique_ptr<AppFixture> app;
    ModuleWindow *w = nullptr;

    explicit Bench(const QStringList &simArgs) : sim(SimProcess::Serial, simArgs) {}

    bool start()
    {
        if (!sim.start())
            return false;
        sim.attach(1);
        app = std::make_unique<AppFixture>(new SerialPort());
        return true;
    }
    void openWindow()
    {
        app->frame()->Form_Load();
        app->menu("board");
        w = qobject_cast<ModuleWindow *>(app->find("module"));
    }
    QPushButton *button(const char *name) const
    {
        return w->findChild<QPushButton *>(QString::fromLatin1(name));
    }
    void setPeriod(const QString &ms) const
    {
        w->findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(ms);
    }
};
}  // namespace

class TestAcquisitionEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ModuleWindow::resetState(); }

    void threeModulesOneDisabled()
    {
        Bench b({QStringLiteral("--modules"), QStringLiteral("1,2,3"), QStringLiteral("--seed"),
                 QStringLiteral("11")});
        QVERIFY2(b.start(), qPrintable(b.sim.errorString()));
        for (int a : {1, 2, 3}) b.app->db().addModule(a);
        b.app->db().exec(QStringLiteral("update dbQx7 set scan=1"));
        b.app->db().exec(QStringLiteral("update dbQx7 set enorno='否' where adr='2'"));
        b.openWindow();
        QVERIFY(b.w);
        QVERIFY(Module1::MSComm1()->PortOpen());
        b.setPeriod(QStringLiteral("150"));
        b.button("Command3")->click();
        QVERIFY(Module1::rs232busy());

        // Records of both enabled modules, and a few polls of each.
        QVERIFY(runUntil(
            [&] {
                return b.app->db()
                               .scalar(QStringLiteral("select count(distinct adr) from th"))
                               .toInt() == 2 &&
                       ModuleWindow::state().cycle.okCount >= 8;
            },
            15000));
        b.button("Command3")->click();
        QVERIFY(!Module1::rs232busy());

        const QList<Exchange> exchanges = measurementExchanges(b.sim.log());
        const Counts c = count(exchanges);
        const AcquisitionCycle &cycle = ModuleWindow::state().cycle;
        // Every reply was taken, save perhaps the one under way at the stop.
        QCOMPARE(c.good, c.requests);
        QVERIFY2(cycle.okCount == c.requests || cycle.okCount == c.requests - 1,
                 qPrintable(QStringLiteral("%1 of %2").arg(cycle.okCount).arg(c.requests)));
        QCOMPARE(cycle.failCount, 0);

        // The disabled module was never polled; the others alternately.
        QSet<int> polled;
        for (const Exchange &e : exchanges) polled << e.address;
        QCOMPARE(polled, (QSet<int>{1, 3}));
        for (int i = 1; i < exchanges.size(); ++i)
            QVERIFY(exchanges[i].address != exchanges[i - 1].address);

        // The rows show the last reading each module sent (the third module
        // sits below zero).
        for (int position : {1, 3}) {
            Exchange last;
            for (const Exchange &e : exchanges) {
                if (e.address == position &&
                    (cycle.okCount == c.requests || &e != &exchanges.last()))
                    last = e;
            }
            const ModuleRow &row = b.w->modules()->at(position);
            QCOMPARE(row.temperature + "/" + row.humidity, last.temperature + "/" + last.humidity);
        }
        QVERIFY(b.w->modules()->at(3).temperature.startsWith(QLatin1Char('-')));
        QCOMPARE(b.w->modules()->at(2).temperature, QString());

        // Every record holds a reading that its module really sent.
        const auto records = b.app->db().rows(QStringLiteral("select adr, temp, hum from th"));
        QVERIFY(!records.isEmpty());
        for (const QVariantList &r : records) {
            bool sent = false;
            for (const Exchange &e : exchanges) {
                sent = sent ||
                       (e.address == r[0].toInt() && e.temperature.toDouble() == r[1].toDouble() &&
                        e.humidity.toDouble() == r[2].toDouble());
            }
            QVERIFY2(sent,
                     qPrintable(r[0].toString() + " " + r[1].toString() + " " + r[2].toString()));
        }
    }

    void lostAndSpoiltRepliesCountAsFailures()
    {
        Bench b({QStringLiteral("--modules"), QStringLiteral("1"), QStringLiteral("--drop"),
                 QStringLiteral("0.3"), QStringLiteral("--bad-crc"), QStringLiteral("0.2"),
                 QStringLiteral("--seed"), QStringLiteral("5")});
        QVERIFY2(b.start(), qPrintable(b.sim.errorString()));
        b.app->db().addModule(1);
        b.app->db().exec(QStringLiteral("update dbQx7 set scan=1"));
        b.openWindow();
        b.setPeriod(QStringLiteral("150"));
        b.button("Command3")->click();
        QVERIFY(runUntil(
            [&] {
                return ModuleWindow::state().cycle.failCount >= 4 &&
                       ModuleWindow::state().cycle.okCount >= 4 &&
                       b.app->db().scalar(QStringLiteral("select count(*) from th")).toInt() >= 1;
            },
            15000));
        b.button("Command3")->click();

        const QList<Exchange> exchanges = measurementExchanges(b.sim.log());
        const Counts c = count(exchanges);
        const AcquisitionCycle &cycle = ModuleWindow::state().cycle;
        QVERIFY(c.good < c.requests);
        // Each poll is a success or a failure, but for the one under way at the stop.
        QVERIFY2(cycle.okCount + cycle.failCount == c.requests ||
                     cycle.okCount + cycle.failCount == c.requests - 1,
                 qPrintable(QStringLiteral("%1 + %2 of %3")
                                .arg(cycle.okCount)
                                .arg(cycle.failCount)
                                .arg(c.requests)));
        QVERIFY(cycle.okCount == c.good || cycle.okCount == c.good - 1);

        // No zero of a failed poll, nothing the module did not send, is stored.
        QCOMPARE(b.app->db()
                     .scalar(QStringLiteral("select count(*) from th where temp=0 and hum=0"))
                     .toInt(),
                 0);
        for (const QVariantList &r :
             b.app->db().rows(QStringLiteral("select adr, temp, hum from th"))) {
            bool sent = false;
            for (const Exchange &e : exchanges) {
                sent = sent || (e.good && e.temperature.toDouble() == r[1].toDouble() &&
                                e.humidity.toDouble() == r[2].toDouble());
            }
            QVERIFY(sent);
        }
    }

    void reopenedByMenuAcquiresAgain()
    {
        Bench b({QStringLiteral("--modules"), QStringLiteral("1"), QStringLiteral("--seed"),
                 QStringLiteral("3")});
        QVERIFY2(b.start(), qPrintable(b.sim.errorString()));
        b.app->db().addModule(1);
        b.openWindow();
        b.setPeriod(QStringLiteral("100"));
        b.button("Command3")->click();
        QVERIFY(runUntil([&] { return ModuleWindow::state().cycle.okCount >= 2; }, 10000));

        b.app->menu("board");  // closes the window while it acquires and opens it afresh
        flushDeletes();
        b.w = qobject_cast<ModuleWindow *>(b.app->find("module"));
        QVERIFY(b.w);
        QVERIFY(!Module1::rs232busy());
        const int before = ModuleWindow::state().cycle.okCount;
        b.setPeriod(QStringLiteral("100"));
        b.button("Command3")->click();
        QCOMPARE(b.button("Command3")->text(), QStringLiteral("停止"));
        QVERIFY(runUntil([&] { return ModuleWindow::state().cycle.okCount >= before + 2; }, 10000));
        QVERIFY(!b.w->modules()->at(1).temperature.isEmpty());
    }
    void searchFindsTheModules()
    {
        Bench b({QStringLiteral("--modules"), QStringLiteral("3,100,200"), QStringLiteral("--seed"),
                 QStringLiteral("2")});
        QVERIFY2(b.start(), qPrintable(b.sim.errorString()));
        b.openWindow();
        auto *command5 = b.button("Command5");
        b.w->findChild<QLineEdit *>(QStringLiteral("Text19"))->setText(QStringLiteral("5"));
        b.app->boxes.answers = {MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Yes};
        command5->click();
        QVERIFY(Module1::rs232busy());
        QVERIFY(runUntil([&] { return !b.w->isSearching(); }, 20000));
        QCOMPARE(command5->text(), QStringLiteral("搜索模块"));
        QVERIFY(b.sim.waitForLog(QStringLiteral("tty FF 03 00 02 00 01")));
        QCOMPARE(b.sim.logCount(QStringLiteral(" 03 00 02 00 01 ")), 255);
        QCOMPARE(b.app->boxes.texts(),
                 (QStringList{QStringLiteral("找到地址为3型号为0007的模块，要加到系统中吗?"),
                              QStringLiteral("找到地址为100型号为0007的模块，要加到系统中吗?"),
                              QStringLiteral("找到地址为200型号为0007的模块，要加到系统中吗?")}));
        QCOMPARE(b.app->db().rows(
                     QStringLiteral("select adr, name, enorno, temp, hum, scan, alarm from dbQx7")),
                 (QList<QVariantList>{{"3", "0007", "是", "", "", 60, "否"},
                                      {"200", "0007", "是", "", "", 60, "否"}}));
        QCOMPARE(b.w->modules()->count(), 2);
        QVERIFY(!Module1::rs232busy());
        QVERIFY(b.button("Command3")->isEnabled());
        QVERIFY(b.button("Command2")->isEnabled());

        // Searching again asks only about the module that is not registered.
        b.app->boxes.clear();
        b.app->boxes.answers = {MsgAnswer::No};
        command5->click();
        QVERIFY(runUntil([&] { return !b.w->isSearching(); }, 20000));
        QCOMPARE(command5->text(), QStringLiteral("搜索模块"));
        QCOMPARE(b.app->boxes.texts(),
                 QStringList{QStringLiteral("找到地址为100型号为0007的模块，要加到系统中吗?")});
        QCOMPARE(b.w->modules()->count(), 2);
    }

    void addressChange()
    {
        Bench b({QStringLiteral("--modules"), QStringLiteral("1,5"), QStringLiteral("--seed"),
                 QStringLiteral("4")});
        QVERIFY2(b.start(), qPrintable(b.sim.errorString()));
        b.app->db().addModule(1);
        b.openWindow();
        b.button("Command2")->click();  // 将模块 1 的地址，更换为 2
        QVERIFY(b.sim.waitForLog(
            QStringLiteral("tty 01 06 00 00 00 02 08 0B -> 01 06 00 00 00 02 08 0B")));
        QCOMPARE(b.w->modules()->at(1).address, QStringLiteral("1"));
        QVERIFY(b.app->boxes.shown.isEmpty());

        // The module answers at its new address, and no more at the old one.
        QCOMPARE(Module1::MSComm1()->Output(measurementRequest(2)), PortError::None);
        QVERIFY(b.sim.waitForLog(QStringLiteral("tty 02 04 00 00 00 02 71 F8 -> 02 04 04")));
        QCOMPARE(Module1::MSComm1()->Output(measurementRequest(1)), PortError::None);
        QVERIFY(b.sim.waitForLog(QStringLiteral("-> silent (no module 1)")));
    }
};

QTEST_MAIN(TestAcquisitionEndToEnd)
#include "tst_acquisition_e2e.moc"
