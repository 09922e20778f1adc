// The window MQTT设置 and the program around it: what the window refuses, saving, testing and
// switching off, the frame's status line, and, end to end, each reading the acquisition believes
// and each alarm reaching a subscriber on a real mosquitto once, in order.
#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "bus/BusLink.h"
#include "bus/SerialPort.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttSettingsDialog.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/ValueText.h"
#include "support/AppFixture.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/SimProcess.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {
constexpr int kWait = 10000;

// The settings window of the program, with its controls by name.
struct Window {
    MqttSettingsDialog *w;
    explicit Window(AppFixture &app) {
        app.menu("mqtt");
        w = app.find<MqttSettingsDialog>("mqttSetting");
    }
    QLineEdit *box(const char *name) const { return w->findChild<QLineEdit *>(name); }
    // Host, port, prefix, user name and password.
    void type(const QStringList &fields) const {
        const char *names[] = {"host", "port", "prefix", "username", "password"};
        for (int i = 0; i < fields.size(); ++i) box(names[i])->setText(fields[i]);
    }
    QCheckBox *enabled() const { return w->findChild<QCheckBox *>("enabled"); }
    void click(const char *name) const { w->findChild<QPushButton *>(name)->click(); }
    QString state() const { return w->findChild<QLabel *>("mqttState")->text(); }
};

QLabel *frameStatus(AppFixture &app) {
    return app.frame()->findChild<QLabel *>("mqttStatus");
}

// What the program does at its start, with `broker` saved as its MQTT settings and the
// serial port saved before: true once the broker accepted.
bool startPublishing(AppFixture &app, const MqttBroker &broker) {
    if (!mqttsettings::save(app.services().db(), broker.settings(), nullptr))
        return false;
    app.frame()->startMqtt();
    app.frame()->openSavedPort();
    return QTest::qWaitFor(
        [&] { return app.services().mqtt().status().state == MqttStatus::State::Connected; },
        kWait);
}

// Opens 温湿度采集 and starts polling, one module every `ms` milliseconds.
ModuleWindow *acquire(AppFixture &app, const char *ms) {
    app.menu("board");
    auto *w = app.find<ModuleWindow>("module");
    w->findChild<QLineEdit *>("Text2")->setText(ms);
    w->toggleAcquisition();
    return w;
}

// The rows of table mqttsetting; -1 when there is no such table.
int settingRows(AppFixture &app) {
    if (app.db().scalar("select count(*) from sqlite_master where name='mqttsetting'").toInt() == 0)
        return -1;
    return app.db().scalar("select count(*) from mqttsetting").toInt();
}
}  // namespace

class TestMqttSetting : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Saving and testing refuse what the window cannot use, each time with a
    // warning, and put the focus on the box to correct.
    void refusals_data() {
        QTest::addColumn<QStringList>("fields");  // host, port, prefix, user name, password
        QTest::addColumn<QString>("discovery");   // Home Assistant's prefix
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        const QString ha = "homeassistant";
        QTest::newRow("host") << QStringList{"", "1883", "qx7", "", ""} << ha
                              << "请填写MQTT代理的地址。"
                              << "host";
        QTest::newRow("port") << QStringList{"127.0.0.1", "4294985127", "qx7", "", ""} << ha
                              << "端口必须是1到65535之间的整数。"
                              << "port";
        QTest::newRow("prefix") << QStringList{"127.0.0.1", "1883", "qx7/#", "", ""} << ha
                                << "主题前缀不能含有“+”或“#”。"
                                << "prefix";
        QTest::newRow("password") << QStringList{"127.0.0.1", "1883", "qx7", "", "pw"} << ha
                                  << "填写密码时必须同时填写用户名。"
                                  << "username";
        QTest::newRow("discovery prefix")
            << QStringList{"127.0.0.1", "1883", "qx7", "", ""} << "ha/+"
            << "自动发现前缀不能含有“+”或“#”。"
            << "discoveryPrefix";
    }
    void refusals() {
        QFETCH(QStringList, fields);
        QFETCH(QString, discovery);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        AppFixture app;
        Window win(app);
        win.enabled()->setChecked(true);
        win.type(fields);
        win.box("discoveryPrefix")->setText(discovery);
        win.click("save");
        win.click("test");
        QCOMPARE(app.boxes.texts(), QStringList(2, message));
        QCOMPARE(app.boxes.shown.first().icon, MsgIcon::Warning);
        QCOMPARE(win.w->focusWidget()->objectName(), focus);
        QCOMPARE(settingRows(app), -1);  // nothing saved, no table made
        QVERIFY(!app.services().mqtt().isOn());
    }

    void saveTestAndSwitchOff() {
        MqttBroker broker({.users = {{"alice", "pa'ss"}}});
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        const QString server = broker.settings().server();

        AppFixture app;
        QStringList lines;  // the frame's status lines
        QObject listening;
        connect(&app.services().mqtt(), &MqttPublisher::stateChanged, &listening,
                [&](const QString &t) { lines << t; });
        {
            app.menu("board");
            Window win(app);
            QVERIFY2(app.find("module"), "the acquisition window stays open");
            // No settings yet: off, with the usual values to start from.
            QVERIFY(!win.enabled()->isChecked());
            QCOMPARE(win.box("host")->text() + ' ' + win.box("port")->text() + ' ' +
                         win.box("prefix")->text() + ' ' + win.box("discoveryPrefix")->text(),
                     QStringLiteral("127.0.0.1 1883 qx7 homeassistant"));
            QCOMPARE(win.box("password")->echoMode(), QLineEdit::Password);
            QCOMPARE(win.state(), QStringLiteral("MQTT：未启用"));
            QVERIFY(frameStatus(app)->isHidden());
            win.enabled()->setChecked(true);
            win.type({"127.0.0.1", QString::number(broker.port()), "site/hall1", "alice", "wr0ng"});
            // 测试连接 tries without saving; the window waits for nothing meanwhile.
            win.click("test");
            QVERIFY(!win.w->findChild<QPushButton *>("test")->isEnabled());
            QTRY_COMPARE_WITH_TIMEOUT(app.boxes.shown.size(), 1, kWait);
            QCOMPARE(app.boxes.shown.last().icon, MsgIcon::Warning);
            QVERIFY2(app.boxes.texts().last().contains("用户名或密码错误"),
                     qPrintable(app.boxes.texts().last()));
            QCOMPARE(settingRows(app), -1);

            // 保存: stored, and published with at once. The broker refuses the
            // login: the frame says why, and the program tries again.
            win.click("save");
            QCOMPARE(settingRows(app), 1);
            QTRY_VERIFY_WITH_TIMEOUT(
                frameStatus(app)->text().contains(
                    "代理拒绝连接：未获授权（用户名或密码错误，或不允许匿名登录）"),
                kWait);
            QVERIFY(!frameStatus(app)->isHidden());
            QTRY_VERIFY_WITH_TIMEOUT(broker.log().count("not authorised") >= 3, kWait);

            win.box("password")->setText("pa'ss");
            win.click("test");
            QTRY_COMPARE_WITH_TIMEOUT(app.boxes.shown.size(), 2, kWait);
            QCOMPARE(app.boxes.shown.last().icon, MsgIcon::Information);
            QCOMPARE(app.boxes.texts().last(), "连接成功：MQTT代理 " + server + " 接受了连接。");
            win.click("save");
            QCOMPARE(settingRows(app), 1);  // saved again: still one row
            QTRY_COMPARE_WITH_TIMEOUT(frameStatus(app)->text(), "MQTT：已连接 " + server, kWait);
            QCOMPARE(win.state(), "MQTT：已连接 " + server);
            win.click("exit");
        }
        flushDeletes();
        // Opened again: the saved settings, password included (hidden). Unticked
        // and saved: the row goes, nothing is published, the line goes.
        Window win(app);
        QVERIFY(win.enabled()->isChecked());
        QCOMPARE(win.box("prefix")->text() + ' ' + win.box("password")->text(),
                 QStringLiteral("site/hall1 pa'ss"));
        // Home Assistant's discovery, on unless unticked: then stored as none.
        win.w->findChild<QCheckBox *>("discovery")->setChecked(false);
        win.click("save");
        QCOMPARE(app.db().scalar("select discovery from mqttsetting"), QVariant(""));
        win.enabled()->setChecked(false);
        win.click("save");
        QCOMPARE(settingRows(app), 0);
        QVERIFY(!app.services().mqtt().isOn());
        QVERIFY(frameStatus(app)->isHidden());
        QCOMPARE(win.state(), QStringLiteral("MQTT：未启用"));
        // The password is in no box and no status line.
        for (const QString &text : app.boxes.texts() + lines)
            QVERIFY2(!text.contains("pa'ss") && !text.contains("wr0ng"), qPrintable(text));
    }

    // The acquisition polls the simulator's modules through the program's real
    // serial port, with some replies lost or spoilt: those polls publish
    // nothing, and each reading it believes reaches a subscriber once, in
    // order. Module 3 sits below its lower limit and module 5 is not on the
    // bus: each start and end of an alarm is published on <prefix>/<adr>/alarm
    // with the second the alarm log has.
    void readingsAndAlarmsReachASubscriber() {
        MqttBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber sub(broker.port(), "qx7/+/+");
        QVERIFY(sub.start());
        SimProcess sim(SimProcess::Serial, {"--modules", "1,2,3", "--set", "3:-5:80", "--drop",
                                            "0.2", "--bad-crc", "0.1", "--seed", "5"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));

        AppFixture app(new SerialPort());
        for (int a : {1, 2, 3, 5}) app.db().addModule(a);
        app.db().exec("update dbQx7 set alarm='是' where adr in ('3', '5'); " +
                      schema::createAlarmLimitTable() +
                      "; insert into alarmlimit (adr, tlow) values ('3', -4)");
        QVERIFY(startPublishing(app, broker));
        QVERIFY(app.bus().port()->PortOpen());

        ModuleWindow *w = acquire(app, "150");
        // Each reading the window takes, as "address temperature/humidity".
        QStringList taken;
        const ModuleListModel *list = w->modules();
        connect(list, &QAbstractItemModel::dataChanged, this,
                [&](const QModelIndex &index, const QModelIndex &, const QList<int> &roles) {
                    const ModuleRow &row = list->at(index.row() + 1);
                    if (roles.contains(Qt::DisplayRole) && row.fresh)  // not a failed poll
                        taken << row.address + " " + row.temperature + "/" + row.humidity;
                });
        QVERIFY(QTest::qWaitFor([&] { return taken.size() >= 20; }, 2 * kWait));
        w->toggleAcquisition();  // stopping ends the alarms still on
        QVERIFY(sim.log().contains("dropped") && sim.log().contains("bad CRC"));
        QVERIFY(app.services().writer().flush(5000));
        QStringList logged;
        const auto alarm = [](const QVariant &adr, const QVariant &kind, const QVariant &state,
                              const QVariant &value, const QVariant &time) {
            return QStringList{adr.toString(), kind.toString(), state.toString(),
                               value.isNull() ? "null" : numberText(value.toDouble()),
                               time.toString()}
                .join(' ');
        };
        for (const QVariantList &r :
             app.db().rows("select adr, kind, state, value, mydate from alarmlog order by id"))
            logged << alarm(r[0], r[1], r[2], r[3], r[4]);
        QCOMPARE(
            logged.filter(QRegularExpression("^(3 温度过低 开始 -5|5 无应答 开始 null) ")).size(),
            2);

        QTRY_COMPARE_WITH_TIMEOUT(sub.count(), int(taken.size() * 2 + logged.size()), kWait);
        QStringList readings, alarms;
        for (const MqttSubscriber::Message &m : sub.messages()) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            const QString address = QString::fromUtf8(m.topic.split('/').at(1));
            if (m.topic.endsWith("/state"))
                readings << address + " " + numberText(o.value("temp").toDouble()) + "/" +
                                numberText(o.value("hum").toDouble());
            else if (m.topic.endsWith("/alarm"))
                alarms << alarm(address, o.value("kind").toVariant(), o.value("state").toVariant(),
                                o.value("value").toVariant(), o.value("time").toVariant());
        }
        QCOMPARE(readings, taken);
        QCOMPARE(alarms, logged);
    }
};

QTEST_MAIN(TestMqttSetting)
#include "tst_mqttsetting.moc"
