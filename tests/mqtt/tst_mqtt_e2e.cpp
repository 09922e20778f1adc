// The whole chain: the acquisition polls the simulator's modules through the
// program's real serial port, and a subscriber on a real mosquitto sees each
// reading the window believed, once, in order, with the values the window
// shows, within a second; and the alarms the acquisition raises.
#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/SerialPort.h"
#include "mqtt/MqttPublisher.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "support/AppFixture.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/SimProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

namespace {
constexpr int kWait = 20000;
}  // namespace

class TestMqttEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyBelievedReadingReachesASubscriberWithinASecond();
    void alarmsReachASubscriber();
};

void TestMqttEndToEnd::everyBelievedReadingReachesASubscriberWithinASecond() {
    if (MqttBroker::program().isEmpty())
        QSKIP("the mosquitto broker is not installed (Debian package mosquitto)");
    MqttBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub(broker.port(), "qx7/+/state");
    QVERIFY(sub.start());
    // Some replies lost or spoilt: those polls fail and publish nothing.
    SimProcess sim(SimProcess::Serial,
                   {"--modules", "1,2,3", "--drop", "0.2", "--bad-crc", "0.1", "--seed", "5"});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(1);

    AppFixture app(new SerialPort());
    for (int a : {1, 2, 3}) app.db().addModule(a);
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    QVERIFY(mqttsettings::save(Module1::dbconn(), settings, nullptr));
    app.frame()->startMqtt();
    app.frame()->openSavedPort();
    QVERIFY(Module1::bus()->port()->PortOpen());
    QTRY_COMPARE_WITH_TIMEOUT(Module1::mqtt()->status().state, MqttStatus::State::Connected, kWait);

    Module1::resetState();
    app.menu("board");
    auto *w = app.find<ModuleWindow>("module");
    // Each reading the window takes, as "address temperature/humidity", and when.
    QStringList taken;
    QList<qint64> takenAt;
    const ModuleListModel *list = w->modules();
    connect(list, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex &index) {
        const ModuleRow &row = list->at(index.row() + 1);
        if (!row.fresh)
            return;  // a failed poll
        taken << row.address + " " + row.temperature + "/" + row.humidity;
        takenAt << MqttSubscriber::now();
    });
    w->findChild<QLineEdit *>("Text2")->setText("150");
    w->toggleAcquisition();
    QVERIFY(QTest::qWaitFor([&] { return taken.size() >= 20; }, kWait));
    w->toggleAcquisition();
    QVERIFY(Module1::acquisitionState().cycle.failCount > 0);  // the faults did happen

    QTRY_COMPARE_WITH_TIMEOUT(sub.count(), int(taken.size()), kWait);
    const QList<MqttSubscriber::Message> got = sub.messages();
    QStringList published;
    qint64 slowest = 0;
    for (int i = 0; i < got.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(got[i].payload).object();
        published << got[i].topic.split('/').at(1) + " " +
                         QString::number(o.value("temp").toDouble()) + "/" +
                         QString::number(o.value("hum").toDouble());
        slowest = std::max(slowest, got[i].receivedMs - takenAt.value(i));
    }
    QCOMPARE(published, taken);
    qInfo("%d readings; the slowest reached the subscriber %lld ms after the window took it",
          int(taken.size()), slowest);
    QVERIFY2(slowest < 1000, qPrintable(QString::number(slowest)));
}

// The starts of an alarm below a limit and of a no-reply alarm are
// published on <prefix>/<adr>/alarm as they go into the alarm log.
void TestMqttEndToEnd::alarmsReachASubscriber() {
    if (MqttBroker::program().isEmpty())
        QSKIP("the mosquitto broker is not installed (Debian package mosquitto)");
    MqttBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub(broker.port(), "qx7/+/alarm");
    QVERIFY(sub.start());
    SimProcess sim(SimProcess::Serial, {"--modules", "3", "--set", "3:-5:80", "--seed", "1"});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(1);

    AppFixture app(new SerialPort());
    for (int a : {3, 5}) app.db().addModule(a);  // 5 is not on the bus
    app.db().exec("update dbQx7 set alarm='是'");
    app.db().exec(schema::createAlarmLimitTable());
    app.db().exec("insert into alarmlimit (adr, tlow) values ('3', -4)");
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    QVERIFY(mqttsettings::save(Module1::dbconn(), settings, nullptr));
    app.frame()->startMqtt();
    app.frame()->openSavedPort();
    QTRY_COMPARE_WITH_TIMEOUT(Module1::mqtt()->status().state, MqttStatus::State::Connected, kWait);

    ModuleWindow::setBeep([] {});
    app.menu("board");
    auto *w = app.find<ModuleWindow>("module");
    w->findChild<QLineEdit *>("Text2")->setText("100");
    w->toggleAcquisition();
    QTRY_COMPARE_WITH_TIMEOUT(sub.count(), 2, kWait);
    w->toggleAcquisition();
    QStringList got;
    for (const MqttSubscriber::Message &m : sub.messages()) {
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        got << QString::fromUtf8(m.topic) + " " + o.value("kind").toString() + " " +
                   o.value("state").toString() + " " +
                   (o.value("value").isNull() ? "null"
                                              : QString::number(o.value("value").toDouble()));
    }
    got.sort();
    QCOMPARE(got, (QStringList{"qx7/3/alarm 温度过低 开始 -5", "qx7/5/alarm 无应答 开始 null"}));
    QVERIFY(Module1::writer().flush(5000));
    QCOMPARE(app.db().scalar("select count(*) from alarmlog").toInt(), 2);
    ModuleWindow::setBeep({});
}

QTEST_MAIN(TestMqttEndToEnd)
#include "tst_mqtt_e2e.moc"
