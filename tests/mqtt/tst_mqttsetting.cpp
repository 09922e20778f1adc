// The window MQTT设置 and the program around it: what the window refuses, saving, testing and
// switching off, the frame's status line. (What the acquisition publishes is seen end to end in
// tst_acquisition_e2e.)
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttSettingsDialog.h"
#include "support/AppFixture.h"
#include "support/MqttBroker.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
        const auto row = [](const char *name, const QStringList &fields, const char *discovery,
                            const char *message, const char *focus) {
            QTest::newRow(name) << fields << QString(discovery) << QString(message)
                                << QString(focus);
        };
        const char *ha = "homeassistant";
        row("host", {"", "1883", "qx7", "", ""}, ha, "请填写MQTT代理的地址。", "host");
        row("port", {"127.0.0.1", "4294985127", "qx7", "", ""}, ha,
            "端口必须是1到65535之间的整数。", "port");
        row("prefix", {"127.0.0.1", "1883", "qx7/#", "", ""}, ha, "主题前缀不能含有“+”或“#”。",
            "prefix");
        row("password", {"127.0.0.1", "1883", "qx7", "", "pw"}, ha,
            "填写密码时必须同时填写用户名。", "username");
        row("discovery prefix", {"127.0.0.1", "1883", "qx7", "", ""}, "ha/+",
            "自动发现前缀不能含有“+”或“#”。", "discoveryPrefix");
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
};

QTEST_MAIN(TestMqttSetting)
#include "tst_mqttsetting.moc"
