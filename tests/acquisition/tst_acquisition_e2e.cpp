// The acquisition end to end: the window polls and searches the simulator's
// modules over a pseudo-terminal through the program's real serial port,
// end-of-frame timer and routing, stores records and alarms and publishes
// them on a real mosquitto; the simulator's exchange log says what really
// went over the line.
#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "bus/BusLink.h"
#include "bus/Frames.h"
#include "bus/SerialPort.h"
#include "mqtt/MqttPublisher.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/ValueText.h"
#include "support/AppFixture.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/SimProcess.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {
// The addresses of the measurement requests in the simulator's log, in order.
QList<int> polledAddresses(const QString &log) {
    static const QRegularExpression request("tty ([0-9A-F]{2}) 04 00 00 00 02 ");
    QList<int> out;
    for (auto it = request.globalMatch(log); it.hasNext();)
        out << it.next().captured(1).toInt(nullptr, 16);
    return out;
}

// The readings sent with a good CRC, in order, as "address temperature/humidity".
QStringList readingsSent(const QString &log) {
    static const QRegularExpression reply("-> ([0-9A-F]{2} 04 04( [0-9A-F]{2}){6})");
    QStringList out;
    for (auto it = reply.globalMatch(log); it.hasNext();) {
        const QByteArray bytes = QByteArray::fromHex(it.next().captured(1).toLatin1());
        const Measurement m = decodeMeasurement(bytes);
        if (crcMatches(bytes))
            out << QString::number(quint8(bytes[0])) + " " + m.temperatureText() + "/" +
                       m.humidityText();
    }
    return out;
}

// Runs the event loop (without the pauses of QTest::qWait, which would slow
// a fast search down) until `done` holds or the time is up. Nothing else runs
// between the check that holds and the return.
bool runUntil(const std::function<bool()> &done, int timeoutMs) {
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
    // Starts the simulator and the program on its line, registers `modules`
    // (then runs `sql`) and opens the window.
    bool start(const QList<int> &modules = {}, const QString &sql = {}) {
        if (!sim.start())
            return false;
        app = std::make_unique<AppFixture>(new SerialPort());
        for (int a : modules) app->db().addModule(a);
        if (!sql.isEmpty())
            app->db().exec(sql);
        app->frame()->openSavedPort();
        app->menu("board");
        w = qobject_cast<ModuleWindow *>(app->find("module"));
        return app->bus().port()->PortOpen();
    }
    QPushButton *button(const char *name) const {
        return w->findChild<QPushButton *>(QString::fromLatin1(name));
    }
    void set(const char *box, const QString &text) const {
        w->findChild<QLineEdit *>(QString::fromLatin1(box))->setText(text);
    }
    void acquire(const char *periodMs) const {
        set("Text2", periodMs);
        button("Command3")->click();
    }
    // Acquisition (a period) or search (Text19) stopped, the port free, 采集,
    // 更换 and 搜索模块 usable.
    bool idle() const {
        return !app->bus().isBusy() && !w->isAcquiring() && !w->isSearching() &&
               button("Command2")->isEnabled() && button("Command3")->isEnabled() &&
               button("Command5")->text() == "搜索模块";
    }
    // The records that hold no reading a module really sent (such as the
    // zeros of a failed poll).
    QStringList madeUpRecords() const {
        const QStringList readings = readingsSent(sim.log());
        QStringList out;
        for (const QVariantList &r :
             app->db().rows("select adr || ' ' || printf('%g/%g', temp, hum) from th")) {
            if (!readings.contains(r[0].toString()))
                out << r[0].toString();
        }
        return out;
    }
};
}  // namespace

class TestAcquisitionEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:

    // Modules 1 to 3 on a line that loses and spoils replies: 2 is disabled,
    // 3 sits in a cold room below its lower limit, and 5 is registered but
    // not on the bus. The records, the readings published on MQTT and the
    // alarms (in the log and on MQTT, with the same second) hold only what the
    // modules really sent.
    void acquisition() {
        MqttBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber sub(broker.port(), "qx7/+/+");
        QVERIFY(sub.start());
        Bench b({"--modules", "1,2,3", "--set", "3:-5:80", "--drop", "0.3", "--bad-crc", "0.2",
                 "--seed", "11"});
        QVERIFY2(b.start({1, 2, 3, 5},
                         "update dbQx7 set scan=1, alarm='是'; update dbQx7 set enorno='否' "
                         "where adr='2'; " +
                             schema::createAlarmLimitTable() +
                             "; insert into alarmlimit (adr, tlow) values ('3', -4)"),
                 qPrintable(b.sim.errorString()));
        AppServices &services = b.app->services();
        QVERIFY(mqttsettings::save(services.db(), broker.settings(), nullptr));
        b.app->frame()->startMqtt();
        QTRY_VERIFY_WITH_TIMEOUT(services.mqtt().status().state == MqttStatus::State::Connected,
                                 10000);
        // Each reading the window takes, as "address temperature/humidity".
        const ModuleListModel &list = *b.w->modules();
        QStringList taken;
        QObject watching;  // goes before `taken`, and the connection with it
        connect(&list, &QAbstractItemModel::dataChanged, &watching,
                [&](const QModelIndex &index, const QModelIndex &, const QList<int> &roles) {
                    const ModuleRow &row = list.at(index.row() + 1);
                    if (roles.contains(Qt::DisplayRole) && row.fresh)  // not a failed poll
                        taken << row.address + " " + row.temperature + "/" + row.humidity;
                });
        b.acquire("150");

        // Records of both answering modules, failures, a reading in both rows;
        // stopped between a reply and the next poll.
        const AcquisitionCycle &cycle = services.acquisition().cycle();
        QVERIFY(runUntil(
            [&] {
                return b.app->db().scalar("select count(distinct adr) from th").toInt() == 2 &&
                       cycle.okCount >= 8 && cycle.failCount >= 4 && list.at(1).fresh &&
                       list.at(3).fresh && cycle.pendingPosition() == 0;
            },
            20000));
        b.button("Command3")->click();  // stopping ends the alarms still on
        QVERIFY(b.idle());

        // Each poll is a success or a failure, and only a good reply is a success (one that
        // comes after the next poll, as on a loaded machine, is rightly a failure of its
        // own). The disabled module was never polled, the others in turn.
        const QList<int> polled = polledAddresses(b.sim.log());
        const QStringList readings = readingsSent(b.sim.log());
        QCOMPARE(cycle.okCount + cycle.failCount, polled.size());
        QVERIFY(cycle.okCount <= readings.size());
        for (int i = 0; i < polled.size(); ++i) QCOMPARE(polled[i], (QList<int>{3, 5, 1})[i % 3]);

        // The rows show readings their modules sent; the disabled one shows none.
        for (int a : {1, 3}) {
            const QString row =
                QString::number(a) + " " + list.at(a).temperature + "/" + list.at(a).humidity;
            QVERIFY2(readings.contains(row), qPrintable(row));
        }
        QCOMPARE(list.at(3).temperature, "-5");
        QCOMPARE(list.at(2).temperature, QString());

        // Every record holds a reading that its module really sent: no zero of
        // a failed poll, nothing of the disabled module.
        QCOMPARE(b.madeUpRecords(), QStringList());

        const auto alarm = [](const QVariant &adr, const QVariant &kind, const QVariant &state,
                              const QVariant &value, const QVariant &time) {
            return QStringList{adr.toString(), kind.toString(), state.toString(),
                               value.isNull() ? "null" : numberText(value.toDouble()),
                               time.toString()}
                .join(' ');
        };
        QVERIFY(services.writer().flush(5000));
        QStringList logged;
        for (const QVariantList &r :
             b.app->db().rows("select adr, kind, state, value, mydate from alarmlog order by id"))
            logged << alarm(r[0], r[1], r[2], r[3], r[4]);
        QCOMPARE(
            logged.filter(QRegularExpression("^(3 温度过低 开始 -5|5 无应答 开始 null) ")).size(),
            2);

        // Each reading the window took and each alarm went out on MQTT once, in order.
        QTRY_COMPARE_WITH_TIMEOUT(sub.count(), int(taken.size() * 2 + logged.size()), 10000);
        QStringList published, alarms;
        for (const MqttSubscriber::Message &m : sub.messages()) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            const QString address = QString::fromUtf8(m.topic.split('/').at(1));
            if (m.topic.endsWith("/state"))
                published << address + " " + numberText(o.value("temp").toDouble()) + "/" +
                                 numberText(o.value("hum").toDouble());
            else if (m.topic.endsWith("/alarm"))
                alarms << alarm(address, o.value("kind").toVariant(), o.value("state").toVariant(),
                                o.value("value").toVariant(), o.value("time").toVariant());
        }
        QCOMPARE(published, taken);
        QCOMPARE(alarms, logged);
    }

    void searchAndAddressChange() {
        Bench b({"--modules", "1,100,200", "--seed", "2"});
        QVERIFY2(b.start(), qPrintable(b.sim.errorString()));
        b.set("Text19", "5");
        b.app->boxes.answers = {MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Yes};
        b.button("Command5")->click();
        QVERIFY(runUntil([&] { return !b.w->isSearching(); }, 20000));
        QVERIFY(b.idle());
        QVERIFY(b.sim.waitForLog("tty FF 03 00 02 00 01"));
        QCOMPARE(b.sim.logCount(" 03 00 02 00 01 "), 255);
        QCOMPARE(b.app->boxes.texts(),
                 (QStringList{"找到地址为1型号为0007的模块，要加到系统中吗?",
                              "找到地址为100型号为0007的模块，要加到系统中吗?",
                              "找到地址为200型号为0007的模块，要加到系统中吗?"}));
        QCOMPARE(b.app->db().rows("select adr from dbQx7"), (QList<QVariantList>{{"1"}, {"200"}}));
        QCOMPARE(b.w->modules()->count(), 2);

        // 将模块 1 的地址，更换为 2: the module takes the new address, the list
        // keeps the old one.
        b.button("Command2")->click();
        QVERIFY(b.sim.waitForLog("tty 01 06 00 00 00 02 08 0B -> 01 06 00 00 00 02 08 0B"));
        QCOMPARE(b.w->modules()->at(1).address, "1");
        QCOMPARE(b.app->boxes.shown.size(), 3);
        QCOMPARE(b.app->bus().port()->Output(measurementRequest(2)), PortError::None);
        QVERIFY(b.sim.waitForLog("tty 02 04 00 00 00 02 71 F8 -> 02 04 04"));
        QCOMPARE(b.app->bus().port()->Output(measurementRequest(1)), PortError::None);
        QVERIFY(b.sim.waitForLog("-> silent (no module 1)"));
    }
};

QTEST_MAIN(TestAcquisitionEndToEnd)
#include "tst_acquisition_e2e.moc"
