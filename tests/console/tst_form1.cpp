// The console window on an in-memory serial port: its controls, commands, the
// log, polling, the reply handling, the state that outlives the window, and
// what it refuses. The decisions themselves are tested in tst_console, the
// paths over a real line and TCP in tst_console_e2e.
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "console/ui/Form1.h"
#include "support/AppFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}
QByteArray framed(const char *text) {
    return assembleFrame(hex(text));
}
const QString kDesign = QStringLiteral("读回的结果");
const QByteArray kGood = hex("01040400FA0258DB2F");  // 25 °C, 60 %
}  // namespace

class TestForm1 : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> app;
    Form1 *form = nullptr;

    template <class T = QLineEdit>
    T *get(const char *name) {
        return form->findChild<T *>(QString::fromLatin1(name));
    }
    // The text of a box, the caption of a button, a status line.
    QString text(const char *name) { return get<QWidget>(name)->property("text").toString(); }
    void set(const char *name, const QString &value) { get(name)->setText(value); }
    QTimer *timer(const char *name) { return get<QTimer>(name); }
    QString log() { return get<QPlainTextEdit>("Text3")->toPlainText(); }
    QString crc() { return text("Text1") + QLatin1Char(' ') + text("Text5"); }

    // Opens the console. Its timers are slowed down to an hour: the tests
    // call the tick handlers themselves.
    void openConsole(bool holdTimers = true) {
        app->menu("sigboard");
        form = Module1::form1IfOpen();
        QVERIFY(form);
        if (holdTimers) {
            timer("Timer1")->setInterval(3600 * 1000);
            timer("Timer2")->setInterval(3600 * 1000);
        }
    }
    // Bytes from the module, cut into a frame as the main window does.
    void reply(const QByteArray &bytes) {
        app->fakePort()->inject(bytes);
        app->frame()->frames()->endOfFrame();
    }
    void startAutomatic() {
        form->toggleAutomatic();
        QVERIFY(timer("Timer2")->isActive());
    }

private Q_SLOTS:
    void init() {
        Form1::state().reset();
        app = std::make_unique<AppFixture>();
        openConsole();
    }
    void cleanup() {
        app.reset();
        form = nullptr;
    }

    void controlsAndDefaults() {
        form->close();
        flushDeletes();
        openConsole(false);
        auto *sub = qobject_cast<QMdiSubWindow *>(form->parentWidget());
        QVERIFY(sub && sub->isMaximized());
        QCOMPARE(form->windowTitle(), QStringLiteral("操作单模块"));
        const QList<QPair<const char *, QString>> texts = {
            {"Text4", "01 04 00 00 00 01"},
            {"Text1", "C1"},
            {"Text5", "C2"},
            {"Text6", "温度"},
            {"Text7", "湿度"},
            {"Text10", "最高温度"},
            {"Text11", "最低稳度"},
            {"Text14", "最高湿度"},
            {"Text15", "最低湿度"},
            {"Text16", "1"},
            {"Text17", "0"},
            {"Text18", "0"},
            {"Text13", "192"},
            {"Text12", "168"},
            {"Text9", "1"},
            {"Text8", "200"},
            {"Text2", "1234"},
            {"rcv232", ""},
            {"Command1", "显示CRC"},
            {"Command28", "发送"},
            {"Command30", "开启自动采集"},
            {"Command2", "退出"},
            {"Command3", "连接"},
            {"Frame6", "Modbus命令操作"},
            {"Frame2", "显示采集结果"},
            {"Frame3", "网络口接QX-LAN采集(以太网转RS485总线)"}};
        for (const auto &[name, value] : texts) {
            const QWidget *w = get<QWidget>(name);
            QVERIFY2(w, name);
            const bool frame = name[0] == 'F', button = name[0] == 'C';
            QCOMPARE(w->metaObject()->className(), frame    ? "QGroupBox"
                                                   : button ? "QPushButton"
                                                            : "QLineEdit");
            QCOMPARE(w->property(frame ? "title" : "text").toString(), value);
        }
        QVERIFY(!get("rcv232")->isVisible());
        QCOMPARE(get<QComboBox>("Combo2")->count(), 10);
        QCOMPARE(get<QComboBox>("Combo2")->itemText(3), QStringLiteral("设置模块地址(修改xx)"));
        QCOMPARE(log(), kDesign);
        QCOMPARE(get<QPlainTextEdit>("Text3")->toolTip(), QStringLiteral("双击清空显示区"));
        QCOMPARE(timer("Timer2")->interval(), 1000);
        QCOMPARE(timer("Timer1")->interval(), 2000);
        QVERIFY(!timer("Timer1")->isActive() && !timer("Timer2")->isActive());
        QVERIFY(get<QTcpSocket>("Winsock1"));
    }

    void crcAndPresets() {
        form->showCrc();
        QCOMPARE(crc(), QStringLiteral("31 CA"));
        set("Text4", QStringLiteral("01 03 00 0D 00 01 "));
        form->showCrc();
        QCOMPARE(text("Text4"), QStringLiteral("01 03 00 0D 00 01"));  // trimmed back into the box
        QCOMPARE(crc(), QStringLiteral("15 C9"));
        form->choosePreset(1);
        QCOMPARE(text("Text4"), QStringLiteral("01 04 00 01 00 01"));
        QCOMPARE(crc(), QStringLiteral("15 C9"));  // not refreshed by a preset
    }

    void refusals() {
        // What cannot be a command is said by both buttons (the texts are the
        // core's); nothing is sent, the CRC boxes stay.
        set("Text4", QStringLiteral("01 04 100"));
        form->showCrc();
        form->sendCommand();
        QCOMPARE(app->boxes.texts().size(), 2);
        QVERIFY(app->boxes.texts().at(1).contains(QStringLiteral("“100”超过FF")));
        QCOMPARE(app->boxes.texts().at(0), app->boxes.texts().at(1));
        QVERIFY(app->fakePort()->written.isEmpty());
        QCOMPARE(crc(), QStringLiteral("C1 C2"));

        // A closed port: 发送 says so and leaves the port free; a poll says
        // so once and stops the polling.
        app->boxes.clear();
        set("Text4", QStringLiteral("01 04 00 00 00 01"));
        Module1::bus()->seize(BusJob::ConsolePolling);
        app->fakePort()->setOpen(false);
        form->sendCommand();
        QVERIFY(!Module1::bus()->isBusy());
        startAutomatic();
        form->session()->serialPollTick();
        QCOMPARE(app->boxes.texts(), QStringList(2, QStringLiteral("请先打开串口")));
        QVERIFY(!timer("Timer2")->isActive());
        QCOMPARE(text("Command30"), QStringLiteral("开启自动采集"));
        QVERIFY(!Module1::bus()->isBusy());
    }

    void sendLogsRawReplies() {
        form->choosePreset(3);  // the unedited placeholder counts as 00
        form->sendCommand();
        QCOMPARE(app->fakePort()->written, QByteArrayList{framed("010600000000")});
        reply(hex("01030200017984"));
        reply(hex("01030200017984"));  // the same text again is logged again
        QCOMPARE(log(), kDesign + " 01 03 02 00 01 79 84\n 01 03 02 00 01 79 84\n");
        QTest::mouseDClick(get<QPlainTextEdit>("Text3")->viewport(), Qt::LeftButton);
        QCOMPARE(log(), QString());  // a double click clears the log
        reply(hex("0106000000018C0A"));
        QCOMPARE(log(), QStringLiteral(" 01 06 00 00 00 01 8C 0A\n"));
    }

    void addressBox() {
        startAutomatic();
        set("Text16", QStringLiteral("abc"));
        form->session()->serialPollTick();
        QVERIFY(app->fakePort()->written.isEmpty());
        QVERIFY(text("pollStatus").contains(QStringLiteral("模块地址无效")));
        QVERIFY(timer("Timer2")->isActive());
        QVERIFY(app->boxes.shown.isEmpty());  // a status text, no box every second
        set("Text16", QStringLiteral("10"));
        form->session()->serialPollTick();
        QCOMPARE(app->fakePort()->written, QByteArrayList{measurementRequest(0x0A)});
        QCOMPARE(text("pollStatus"), QString());
    }

    // Polls and their replies; what lives on after the window is closed.
    void pollingAndWhatOutlivesTheWindow() {
        startAutomatic();
        QCOMPARE(text("Command30"), QStringLiteral("关闭自动采集"));
        QVERIFY(Module1::bus()->isBusy());
        form->session()->serialPollTick();
        QCOMPARE(app->fakePort()->written, QByteArrayList{hex("01040000000271CB")});
        const QByteArray warm = framed("010404012C0258");  // 30 °C, 60 %
        reply(warm);
        QCOMPARE(text("Text6") + ' ' + text("Text7") + ' ' + text("Text17") + text("Text18"),
                 QStringLiteral("30 60 10"));
        QCOMPARE(text("rcv232"), QString());
        // A humidity register of 0x8000 or more: the temperature is shown,
        // the humidity, extremes and counters stay.
        form->session()->serialPollTick();
        reply(framed("01040401018000"));
        QCOMPARE(text("Text6") + ' ' + text("Text7") + ' ' + text("Text10") + ' ' + text("Text17") +
                     text("Text18"),
                 QStringLiteral("25.7 60 30 10"));
        // The same bad reply twice is counted twice; it stays in rcv232.
        const QByteArray other = framed("02040400FA0258");
        for (int i = 0; i < 2; ++i) {
            form->session()->serialPollTick();
            reply(other);
        }
        const QString message = replyMessage(ReplyVerdict::WrongAddress);
        QCOMPARE(log(), kDesign + receiveText(warm) + '\n' + receiveText(framed("01040401018000")) +
                            '\n' + message + '\n' + message + '\n');
        QCOMPARE(text("Text6") + ' ' + text("Text17") + text("Text18"), QStringLiteral("25.7 12"));
        QCOMPARE(text("rcv232"), receiveText(other));
        form->exitWindow();  // 退出
        flushDeletes();
        QVERIFY(!Module1::form1IfOpen());
        QVERIFY(!Module1::bus()->isBusy());
        reply(kGood);  // reaches no closed window

        openConsole();
        QCOMPARE(text("Text17") + text("Text18") + text("Text10"), QStringLiteral("00最高温度"));
        QCOMPARE(log(), kDesign);
        QCOMPARE(Form1::state().rcvmode, console::ReplyMode::Poll);
        startAutomatic();
        form->session()->serialPollTick();
        reply(kGood);
        QCOMPARE(
            text("Text10") + '/' + text("Text11") + ' ' + text("Text14") + '/' + text("Text15"),
            QStringLiteral("30/25 60/60"));

        // Closed by its close box while polling: the port is not left held.
        QVERIFY(Module1::bus()->isBusy());
        form->parentWidget()->close();
        flushDeletes();
        QVERIFY(!Module1::form1IfOpen());
        QVERIFY(!Module1::bus()->isBusy());
    }

    void badPortText() {
        set("Text2", QStringLiteral("12x"));
        form->toggleConverter();
        QCOMPARE(text("Command3"), QStringLiteral("连接"));
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY(text("netStatus").startsWith(QStringLiteral("端口号无效")));
        QVERIFY(app->boxes.shown.isEmpty());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
