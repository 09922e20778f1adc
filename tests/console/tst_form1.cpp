// The console window on an in-memory serial port and a TCP server on this
// machine: its controls, commands, the log, automatic polling, the reply
// handling with extremes and counters, the state that outlives the window and
// the network link.
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "console/Form1.h"
#include "support/AppFixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
QByteArray framed(const char *text) { return assembleFrame(hex(text)); }
const QString kDesign = QStringLiteral("读回的结果");
}  // namespace

class TestForm1 : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> app;
    Form1 *form = nullptr;

    QLineEdit *box(const char *name) { return form->findChild<QLineEdit *>(QString::fromLatin1(name)); }
    QPushButton *button(const char *name) { return form->findChild<QPushButton *>(QString::fromLatin1(name)); }
    QTimer *timer(const char *name) { return form->findChild<QTimer *>(QString::fromLatin1(name)); }
    QPlainTextEdit *log() { return form->findChild<QPlainTextEdit *>(QStringLiteral("Text3")); }
    QString status(const char *name) { return form->findChild<QLabel *>(QString::fromLatin1(name))->text(); }
    QString text(const char *name) { return box(name)->text(); }

    // Opens the console. Its timers are slowed down to an hour: the tests
    // call the tick handlers themselves.
    void openConsole(bool holdTimers = true)
    {
        app->menu("sigboard");
        form = Module1::form1IfOpen();
        QVERIFY(form);
        if (holdTimers) {
            timer("Timer1")->setInterval(3600 * 1000);
            timer("Timer2")->setInterval(3600 * 1000);
        }
    }
    // Bytes from the module, cut into a frame as the main window does.
    void reply(const QByteArray &bytes)
    {
        app->fakePort()->inject(bytes);
        app->frame()->frames()->endOfFrame();
    }
    QStringList logLines() { return log()->toPlainText().split(QLatin1Char('\n')); }
    QString extremes()
    {
        return text("Text10") + QLatin1Char('/') + text("Text11") + QLatin1Char(' ') + text("Text14") +
               QLatin1Char('/') + text("Text15");
    }
    void startAutomatic()
    {
        form->Command30_Click();
        QVERIFY(timer("Timer2")->isActive());
    }
    void setConverter(quint16 port)
    {
        box("Text13")->setText(QStringLiteral("127"));
        box("Text12")->setText(QStringLiteral("0"));
        box("Text9")->setText(QStringLiteral("0"));
        box("Text8")->setText(QStringLiteral("1"));
        box("Text2")->setText(QString::number(port));
    }

private Q_SLOTS:
    void init()
    {
        Form1::state().reset();
        app = std::make_unique<AppFixture>();
        openConsole();
    }
    void cleanup()
    {
        app.reset();
        form = nullptr;
    }

    void controlsAndDefaults()
    {
        form->close();
        flushDeletes();
        openConsole(false);
        auto *sub = qobject_cast<QMdiSubWindow *>(form->parentWidget());
        QVERIFY(sub && sub->isMaximized());
        QCOMPARE(form->windowTitle(), QStringLiteral("操作单模块"));
        const QList<QPair<const char *, QString>> texts = {
            {"Text4", "01 04 00 00 00 01"}, {"Text1", "C1"},       {"Text5", "C2"},         {"Text6", "温度"},
            {"Text7", "湿度"},              {"Text10", "最高温度"}, {"Text11", "最低稳度"},  {"Text14", "最高湿度"},
            {"Text15", "最低湿度"},         {"Text16", "1"},        {"Text17", "0"},         {"Text18", "0"},
            {"Text2", "1234"},              {"rcv232", ""},
        };
        for (const auto &[name, value] : texts) {
            QVERIFY2(box(name), name);
            QCOMPARE(text(name), value);
        }
        QVERIFY(!box("rcv232")->isVisible());
        // A private LAN address by default.
        const QString host = text("Text13") + "." + text("Text12") + "." + text("Text9") + "." + text("Text8");
        QVERIFY2(QHostAddress(host).isInSubnet(QHostAddress::parseSubnet(QStringLiteral("192.168.0.0/16"))),
                 qPrintable(host));
        const QList<QPair<const char *, QString>> buttons = {{"Command1", "显示CRC"}, {"Command28", "发送"},
                                                             {"Command30", "开启自动采集"}, {"Command2", "退出"},
                                                             {"Command3", "连接"}};
        for (const auto &[name, caption] : buttons) {
            QVERIFY2(button(name), name);
            QCOMPARE(button(name)->text(), caption);
        }
        QCOMPARE(form->findChild<QGroupBox *>("Frame6")->title(), QStringLiteral("Modbus命令操作"));
        QCOMPARE(form->findChild<QGroupBox *>("Frame2")->title(), QStringLiteral("显示采集结果"));
        QCOMPARE(form->findChild<QGroupBox *>("Frame3")->title(), QStringLiteral("网络口接QX-LAN采集(以太网转RS485总线)"));
        auto *combo = form->findChild<QComboBox *>("Combo2");
        QCOMPARE(combo->count(), 10);
        QCOMPARE(combo->itemText(3), QStringLiteral("设置模块地址(修改xx)"));
        QCOMPARE(log()->toPlainText(), kDesign);
        QCOMPARE(log()->toolTip(), QStringLiteral("双击清空显示区"));
        QCOMPARE(timer("Timer2")->interval(), 1000);
        QCOMPARE(timer("Timer1")->interval(), 2000);
        QVERIFY(!timer("Timer1")->isActive() && !timer("Timer2")->isActive());
        QVERIFY(form->findChild<QTcpSocket *>("Winsock1"));
    }

    void crcAndPresets()
    {
        form->Command1_Click();
        QCOMPARE(text("Text1"), QStringLiteral("31"));
        QCOMPARE(text("Text5"), QStringLiteral("CA"));

        box("Text4")->setText(QStringLiteral("01 03 00 0D 00 01 "));
        form->Command1_Click();
        QCOMPARE(text("Text4"), QStringLiteral("01 03 00 0D 00 01"));  // trimmed back into the box
        QCOMPARE(text("Text1") + text("Text5"), QStringLiteral("15C9"));

        form->Combo2_Click(-1);  // nothing selected: nothing changes
        QCOMPARE(text("Text4"), QStringLiteral("01 03 00 0D 00 01"));
        form->Combo2_Click(1);
        QCOMPARE(text("Text4"), QStringLiteral("01 04 00 01 00 01"));
        QCOMPARE(text("Text1") + text("Text5"), QStringLiteral("15C9"));  // not refreshed by a preset

        // What cannot be a command is said, and the CRC boxes stay.
        for (const char *bad : {"01 1FF", "  "}) {
            app->boxes.clear();
            box("Text4")->setText(QString::fromLatin1(bad));
            form->Command1_Click();
            QCOMPARE(app->boxes.shown.size(), 1);
            QCOMPARE(text("Text1") + text("Text5"), QStringLiteral("15C9"));
        }
    }

    void sendLogsRawReplies()
    {
        form->Combo2_Click(3);  // the unedited placeholder counts as 00
        form->Command28_Click();
        QCOMPARE(app->fakePort()->written, QByteArrayList{framed("010600000000")});
        QVERIFY(Module1::rs232target().isRegistered(form));
        QCOMPARE(Form1::state().rcvmode, console::ReplyMode::Command);

        reply(hex("01030200017984"));
        QCOMPARE(logLines(), (QStringList{kDesign + " 01 03 02 00 01 79 84", ""}));
        reply(hex("01030200017984"));  // the same text again is logged again
        QCOMPARE(logLines(), (QStringList{kDesign + " 01 03 02 00 01 79 84", " 01 03 02 00 01 79 84", ""}));
        QCOMPARE(text("Text6"), QStringLiteral("温度"));
        QCOMPARE(text("Text17") + text("Text18"), QStringLiteral("00"));

        form->Text3_DblClick();
        QCOMPARE(log()->toPlainText(), QString());
        reply(hex("0106000000018C0A"));
        QCOMPARE(logLines(), (QStringList{" 01 06 00 00 00 01 8C 0A", ""}));

        // A double click on the log clears it too.
        QTest::mouseDClick(log()->viewport(), Qt::LeftButton);
        QCOMPARE(log()->toPlainText(), QString());
    }

    void sendRefusals()
    {
        box("Text4")->setText(QStringLiteral("01 04 100"));
        form->Command28_Click();
        box("Text4")->setText(QString());
        form->Command28_Click();
        QCOMPARE(app->boxes.shown.size(), 2);
        QVERIFY(app->boxes.texts().at(0).contains(QStringLiteral("“100”超过FF")));
        QVERIFY(app->fakePort()->written.isEmpty());

        app->boxes.clear();
        box("Text4")->setText(QStringLiteral("01 04 00 00 00 01"));
        Module1::rs232busy() = true;
        app->fakePort()->setOpen(false);
        form->Command28_Click();
        QCOMPARE(app->boxes.texts(), QStringList{QStringLiteral("请先打开串口")});
        QVERIFY(!Module1::rs232busy());
    }

    void automaticPolling()
    {
        startAutomatic();
        QCOMPARE(button("Command30")->text(), QStringLiteral("关闭自动采集"));
        QVERIFY(Module1::rs232busy());
        form->Timer2_Timer();
        QCOMPARE(app->fakePort()->written.last(), hex("01040000000271CB"));
        QCOMPARE(Form1::state().rcvmode, console::ReplyMode::Poll);

        reply(hex("01040400FA0258DB2F"));
        QCOMPARE(text("Text6") + " " + text("Text7"), QStringLiteral("25 60"));
        QCOMPARE(extremes(), QStringLiteral("25/25 60/60"));
        QCOMPARE(text("Text17"), QStringLiteral("1"));
        QCOMPARE(logLines(), (QStringList{kDesign + " 01 04 04 00 FA 02 58 DB 2F", ""}));
        QCOMPARE(text("rcv232"), QString());

        // Extremes as numbers: 9.8, then 10.2.
        reply(hex("010404006201F45A4D"));
        reply(hex("010404006601F41B8C"));
        QCOMPARE(extremes(), QStringLiteral("25/9.8 60/50"));
        // A frost reading is shown, signed.
        reply(framed("010404FF9C01F4"));
        QCOMPARE(text("Text6"), QStringLiteral("-10"));
        QCOMPARE(extremes(), QStringLiteral("25/-10 60/50"));
        QCOMPARE(text("Text17"), QStringLiteral("4"));
        QCOMPARE(text("Text18"), QStringLiteral("0"));

        // 发送 in between: that reply is logged raw, the next poll decodes again.
        form->Command28_Click();
        reply(hex("01040231CA"));
        QCOMPARE(logLines().at(logLines().size() - 2), QStringLiteral(" 01 04 02 31 CA"));
        QCOMPARE(text("Text18"), QStringLiteral("0"));
        form->Timer2_Timer();
        reply(hex("01040400FA0258DB2F"));
        QCOMPARE(text("Text17"), QStringLiteral("5"));

        // Stopped: a late reply changes nothing.
        form->Command30_Click();
        QCOMPARE(button("Command30")->text(), QStringLiteral("开启自动采集"));
        QVERIFY(!Module1::rs232busy());
        const QString before = log()->toPlainText();
        reply(framed("01040400010001"));
        QCOMPARE(log()->toPlainText(), before);
        QCOMPARE(text("Text6"), QStringLiteral("25"));
        QCOMPARE(text("Text17") + "/" + text("Text18"), QStringLiteral("5/0"));
    }

    void failedChecksCountEachReply_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("other address") << framed("02040400FA0258") << replyMessage(ReplyVerdict::WrongAddress);
        QTest::newRow("exception") << hex("018402C2C1") << replyMessage(ReplyVerdict::WrongFunction);
        QTest::newRow("incomplete") << hex("01040400FA") << replyMessage(ReplyVerdict::Incomplete);
        QTest::newRow("bad crc") << hex("01040400FA0258DB2E") << replyMessage(ReplyVerdict::BadCrc);
    }
    void failedChecksCountEachReply()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        startAutomatic();
        form->Timer2_Timer();
        reply(bytes);
        form->Timer2_Timer();
        reply(bytes);  // the same bad reply again: counted again
        QCOMPARE(logLines(), (QStringList{kDesign + message, message, ""}));
        QCOMPARE(text("Text18"), QStringLiteral("2"));
        QCOMPARE(text("Text17"), QStringLiteral("0"));
        QCOMPARE(text("Text6"), QStringLiteral("温度"));
        QCOMPARE(text("rcv232"), receiveText(bytes));
    }

    void counterBoxWithAWord()
    {
        startAutomatic();
        form->Timer2_Timer();
        // A counter box the operator wrote a word into keeps it.
        box("Text17")->setText(QStringLiteral("很多"));
        reply(hex("01040400FA0258DB2F"));
        QCOMPARE(text("Text17"), QStringLiteral("很多"));
        QCOMPARE(text("Text6"), QStringLiteral("25"));
    }

    void addressBox()
    {
        startAutomatic();
        box("Text16")->setText(QStringLiteral("10"));
        form->Timer2_Timer();
        QCOMPARE(app->fakePort()->written.last(), measurementRequest(0x0A));
        reply(framed("0A040400FA0258"));
        QCOMPARE(text("Text17"), QStringLiteral("1"));

        for (const char *bad : {"256", "abc", "1.5", ""}) {
            app->fakePort()->written.clear();
            box("Text16")->setText(QString::fromLatin1(bad));
            form->Timer2_Timer();
            QVERIFY2(app->fakePort()->written.isEmpty(), bad);
            QVERIFY2(status("pollStatus").contains(QStringLiteral("模块地址无效")), bad);
        }
        QVERIFY(timer("Timer2")->isActive());
        QVERIFY(app->boxes.shown.isEmpty());  // a status text, no box every second
        box("Text16")->setText(QStringLiteral("1"));
        form->Timer2_Timer();
        QCOMPARE(status("pollStatus"), QString());
    }

    void pollOnClosedPort()
    {
        startAutomatic();
        app->fakePort()->setOpen(false);
        form->Timer2_Timer();
        QCOMPARE(app->boxes.texts(), QStringList{QStringLiteral("请先打开串口")});
        QVERIFY(!timer("Timer2")->isActive());
        QCOMPARE(button("Command30")->text(), QStringLiteral("开启自动采集"));
        QVERIFY(!Module1::rs232busy());
    }

    void stateOutlivesTheWindow()
    {
        startAutomatic();
        form->Timer2_Timer();
        reply(framed("010404012C0258"));  // 30 °C
        QCOMPARE(text("Text17"), QStringLiteral("1"));

        form->Command2_Click();  // 退出
        flushDeletes();
        QVERIFY(!Module1::form1IfOpen());
        QVERIFY(!Module1::rs232busy());
        reply(hex("01040400FA0258DB2F"));  // reaches no closed window

        openConsole();
        QCOMPARE(text("Text17"), QStringLiteral("0"));
        QCOMPARE(log()->toPlainText(), kDesign);
        QCOMPARE(text("Text10"), QStringLiteral("最高温度"));
        QCOMPARE(Form1::state().rcvmode, console::ReplyMode::Poll);
        startAutomatic();
        form->Timer2_Timer();
        reply(hex("01040400FA0258DB2F"));
        QCOMPARE(extremes(), QStringLiteral("30/25 60/60"));

        // Closed by its close box while polling: the port is not left held.
        QVERIFY(Module1::rs232busy());
        form->parentWidget()->close();
        flushDeletes();
        QVERIFY(!Module1::form1IfOpen());
        QVERIFY(!Module1::rs232busy());
    }

    // ---- the network link, against a server on this machine ----

    void badPortText()
    {
        box("Text2")->setText(QStringLiteral("12x"));
        form->Command3_Click();
        QCOMPARE(button("Command3")->text(), QStringLiteral("连接"));
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY(status("netStatus").startsWith(QStringLiteral("端口号无效")));
        QVERIFY(app->boxes.shown.isEmpty());
    }

    void windowClosesItsConnection()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        setConverter(server.serverPort());
        form->Command3_Click();
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        QTRY_COMPARE(form->link()->state(), console::ConverterLink::State::Connected);
        form->Command2_Click();
        flushDeletes();
        QVERIFY(!Module1::form1IfOpen());
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
