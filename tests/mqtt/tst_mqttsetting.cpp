// The window MQTT设置 and the program around it: the menu command, what the
// window refuses, saving and switching off, the test button, the frame's
// status line, and the acquisition publishing each reading it believes.
#include "../acquisition/ModuleReplies.h"
#include "acquisition/ui/ModuleWindow.h"
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/HexText.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttSettingsDialog.h"
#include "support/AppFixture.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {
constexpr int kWait = 10000;

#define SKIP_WITHOUT_MOSQUITTO()                                             \
    if (MqttBroker::program().isEmpty())                                     \
    QSKIP(                                                                   \
        "the mosquitto broker is not installed (Debian package mosquitto); " \
        "scripts/install-deps.sh installs it")

// The settings window of the program, with its controls by name.
struct Window {
    AppFixture &app;
    MqttSettingsDialog *w = nullptr;

    explicit Window(AppFixture &a) : app(a) {
        app.menu("mqtt");
        w = app.find<MqttSettingsDialog>("mqttSetting");
    }
    template <class T = QLineEdit>
    T *get(const char *name) const {
        return w->findChild<T *>(QString::fromLatin1(name));
    }
    void type(const QString &host, const QString &port, const QString &prefix = "qx7",
              const QString &user = "", const QString &password = "") const {
        get("host")->setText(host);
        get("port")->setText(port);
        get("prefix")->setText(prefix);
        get("username")->setText(user);
        get("password")->setText(password);
    }
    void enable(bool on) const { get<QCheckBox>("enabled")->setChecked(on); }
    void click(const char *name) const { get<QPushButton>(name)->click(); }
    QString state() const { return get<QLabel>("mqttState")->text(); }
};

QLabel *frameStatus(AppFixture &app) {
    return app.frame()->findChild<QLabel *>("mqttStatus");
}

int settingRows(AppFixture &app) {
    const QVariant tables =
        app.db().scalar("select count(*) from sqlite_master where name='mqttsetting'");
    return tables.toInt() == 0 ? -1 : app.db().scalar("select count(*) from mqttsetting").toInt();
}
}  // namespace

class TestMqttSetting : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void menuOpensTheWindowBesideTheAcquisition();
    void refusals_data();
    void refusals();
    void saveTestAndSwitchOff();
    void acquisitionPublishesEachBelievedReading();
};

void TestMqttSetting::menuOpensTheWindowBesideTheAcquisition() {
    AppFixture app;
    QMenu *system = app.frame()->menuBar()->findChild<QMenu *>("system");
    QStringList items;
    for (QAction *a : system->actions()) items << a->objectName() + "=" + a->text();
    QVERIFY2(items.contains("mqtt=MQTT设置"), qPrintable(items.join(' ')));

    app.menu("board");
    Window win(app);
    QVERIFY(win.w && win.w->isVisible());
    QVERIFY(win.w->isWindow());
    QCOMPARE(win.w->windowTitle(), QStringLiteral("MQTT设置"));
    QVERIFY2(app.find("module"), "the acquisition window stays open");

    // No settings yet: off, with the usual values to start from.
    QVERIFY(!win.get<QCheckBox>("enabled")->isChecked());
    QCOMPARE(win.get("host")->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(win.get("port")->text(), QStringLiteral("1883"));
    QCOMPARE(win.get("prefix")->text(), QStringLiteral("qx7"));
    QCOMPARE(win.get("password")->echoMode(), QLineEdit::Password);
    QCOMPARE(win.state(), QStringLiteral("MQTT：未启用"));
    QVERIFY(frameStatus(app)->isHidden());
    QVERIFY(!Module1::mqtt()->isOn());

    app.menu("mqtt");  // one window
    QCOMPARE(app.find<MqttSettingsDialog>("mqttSetting"), win.w);
    win.click("exit");
    flushDeletes();
    QVERIFY(!Module1::mqttSettingIfOpen());
}

void TestMqttSetting::refusals_data() {
    QTest::addColumn<QStringList>("fields");  // host, port, prefix, user, password
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("no host") << QStringList{"", "1883", "qx7", "", ""} << "请填写MQTT代理的地址。"
                             << "host";
    QTest::newRow("port text") << QStringList{"127.0.0.1", "mqtt", "qx7", "", ""}
                               << "端口必须是1到65535之间的整数。"
                               << "port";
    QTest::newRow("wildcard") << QStringList{"127.0.0.1", "1883", "qx7/#", "", ""}
                              << "主题前缀不能含有“+”或“#”。"
                              << "prefix";
    QTest::newRow("password alone")
        << QStringList{"127.0.0.1", "1883", "qx7", "", "pw"} << "填写密码时必须同时填写用户名。"
        << "username";
}

void TestMqttSetting::refusals() {
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    AppFixture app;
    Window win(app);
    win.enable(true);
    win.type(fields[0], fields[1], fields[2], fields[3], fields[4]);
    for (const char *button : {"save", "test"}) {
        app.boxes.clear();
        win.click(button);
        QCOMPARE(app.boxes.texts(), QStringList{message});
        QCOMPARE(app.boxes.shown.first().icon, MsgIcon::Warning);
        QCOMPARE(app.boxes.shown.first().title, QStringLiteral("MQTT设置"));
    }
    QVERIFY(win.w->focusWidget());
    QCOMPARE(win.w->focusWidget()->objectName(), focus);
    QCOMPARE(settingRows(app), -1);  // nothing saved, no table made
    QVERIFY(!Module1::mqtt()->isOn());
}

void TestMqttSetting::saveTestAndSwitchOff() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker::Options options;
    options.users = {{"alice", "pa'ss"}};
    MqttBroker broker(options);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    const QString port = QString::number(broker.port());
    const QString server = "127.0.0.1:" + port;

    AppFixture app;
    {
        Window win(app);
        win.enable(true);
        win.type("127.0.0.1", port, "site/hall1", "alice", "pa'ss");
        // 测试连接 tries without saving; the window waits for nothing meanwhile.
        win.click("test");
        QVERIFY(!win.get<QPushButton>("test")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(app.boxes.shown.size(), 1, kWait);
        QCOMPARE(app.boxes.shown.first().icon, MsgIcon::Information);
        QCOMPARE(app.boxes.texts().first(), "连接成功：MQTT代理 " + server + " 接受了连接。");
        QVERIFY(win.get<QPushButton>("test")->isEnabled());
        QCOMPARE(settingRows(app), -1);

        win.get("password")->setText("wrong");
        win.click("test");
        QTRY_COMPARE_WITH_TIMEOUT(app.boxes.shown.size(), 2, kWait);
        QCOMPARE(app.boxes.shown.last().icon, MsgIcon::Warning);
        QVERIFY2(app.boxes.texts().last().contains("用户名或密码错误"),
                 qPrintable(app.boxes.texts().last()));

        // 保存: stored, and published with at once; the frame shows the state.
        win.get("password")->setText("pa'ss");
        win.click("save");
        QCOMPARE(settingRows(app), 1);
        QVERIFY(Module1::mqtt()->isOn());
        QTRY_COMPARE_WITH_TIMEOUT(frameStatus(app)->text(), "MQTT：已连接 " + server, kWait);
        QVERIFY(!frameStatus(app)->isHidden());
        QCOMPARE(win.state(), "MQTT：已连接 " + server);
        win.click("exit");
    }
    flushDeletes();
    {
        // Opened again: the saved settings, password included (hidden).
        Window win(app);
        QVERIFY(win.get<QCheckBox>("enabled")->isChecked());
        QCOMPARE(win.get("prefix")->text(), QStringLiteral("site/hall1"));
        QCOMPARE(win.get("password")->text(), QStringLiteral("pa'ss"));
        QCOMPARE(win.state(), "MQTT：已连接 " + server);

        // Unticked and saved: the row goes, nothing is published, the line goes.
        win.enable(false);
        win.click("save");
        QCOMPARE(settingRows(app), 0);
        QVERIFY(!Module1::mqtt()->isOn());
        QVERIFY(frameStatus(app)->isHidden());
        QCOMPARE(win.state(), QStringLiteral("MQTT：未启用"));
    }
    for (const QString &text : app.boxes.texts()) QVERIFY(!text.contains("pa'ss"));
}

void TestMqttSetting::acquisitionPublishesEachBelievedReading() {
    SKIP_WITHOUT_MOSQUITTO();
    MqttBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub(broker.port(), "qx7/#");
    QVERIFY(sub.start());

    AppFixture app;
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    QVERIFY(mqttsettings::save(Module1::dbconn(), settings, nullptr));
    app.frame()->startMqtt();  // what the program does at its start
    QTRY_COMPARE_WITH_TIMEOUT(Module1::mqtt()->status().state, MqttStatus::State::Connected, kWait);

    app.db().addModule(1);
    app.db().addModule(2);
    Module1::resetState();
    app.menu("board");
    auto *w = app.find<ModuleWindow>("module");
    // Module 2 answers with a spoilt CRC, module 1 properly.
    app.fakePort()->onWrite = [&](const QByteArray &frame) {
        if (frame.size() != 8)
            return;
        QByteArray reply = readingFrame(quint8(frame[0]), 235, 452);
        if (frame[0] == 2)
            reply[reply.size() - 1] = char(reply.back() ^ 0xFF);
        app.fakePort()->inject(reply);
    };
    w->toggleAcquisition();
    w->jobs()->pollTick();  // polls position 2 first
    QTRY_VERIFY_WITH_TIMEOUT(app.frame()->frames()->pending() == 0, kWait);
    w->jobs()->pollTick();  // then position 1
    QTRY_COMPARE_WITH_TIMEOUT(sub.payloads("qx7/1/state").size(), 1, kWait);
    // Published in order, so had the spoilt reply gone out, it would be here by now.
    QVERIFY(sub.payloads("qx7/2/state").isEmpty());
    const QJsonObject o = QJsonDocument::fromJson(sub.payloads("qx7/1/state").first()).object();
    QCOMPARE(o.value("temp").toDouble(), 23.5);
    QCOMPARE(o.value("hum").toDouble(), 45.2);
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                .match(o.value("time").toString())
                .hasMatch());
    w->toggleAcquisition();
}

QTEST_MAIN(TestMqttSetting)
#include "tst_mqttsetting.moc"
