// The console end to end: the program's real serial port on the simulator's
// pseudo-terminal, and its TCP client against the simulator's TCP mode on
// 127.0.0.1. The simulator's modules 1 and 2 read mild values, module 3 is in
// the cold room, below zero.
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "bus/SerialPort.h"
#include "console/ui/Form1.h"
#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
const QString kDesign = QStringLiteral("读回的结果");
constexpr int kWaitMs = 5000;

QString temperatureOf(const QString &replyText) {
    return decodeMeasurement(receiveTextBytes(replyText)).temperatureText();
}
}  // namespace

class TestConsoleEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<AppFixture> app;
    Form1 *form = nullptr;
    std::unique_ptr<QSignalSpy> frames;  // receive texts cut by the main window

    // The text of a box, the caption of a button, a status line.
    QString text(const char *name) {
        return form->findChild<QWidget *>(name)->property("text").toString();
    }
    void set(const char *name, const QString &value) {
        form->findChild<QLineEdit *>(name)->setText(value);
    }
    QTimer *timer(const char *name) { return form->findChild<QTimer *>(QString::fromLatin1(name)); }
    QStringList logLines() {
        return form->findChild<QPlainTextEdit *>("Text3")->toPlainText().split('\n');
    }
    bool negative(const char *name) { return text(name).startsWith(QLatin1Char('-')); }

    // The simulator with these links and options, the program on it, the
    // console open with the converter at 127.0.0.1. The console's timers are
    // held back: the tests tick them or give them a short period.
    void startConsole(SimProcess::Links links, const QStringList &options = {}) {
        Form1::state().reset();
        sim = std::make_unique<SimProcess>(
            links, QStringList{QStringLiteral("--seed"), QStringLiteral("5")} + options);
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
        if (links & SimProcess::Serial)
            sim->attach(1);
        app = std::make_unique<AppFixture>(new SerialPort());
        if (links & SimProcess::Serial) {
            app->frame()->openSavedPort();  // syssetting: port 1
            QVERIFY2(app->frame()->MSComm1()->PortOpen(),
                     qPrintable(app->boxes.texts().join('\n')));
        }
        app->menu("sigboard");
        form = Module1::form1IfOpen();
        QVERIFY(form);
        timer("Timer1")->setInterval(3600 * 1000);
        timer("Timer2")->setInterval(3600 * 1000);
        frames =
            std::make_unique<QSignalSpy>(app->frame()->frames(), &FrameAssembler::frameDelivered);
        for (auto [name, v] :
             {std::pair{"Text13", "127"}, {"Text12", "0"}, {"Text9", "0"}, {"Text8", "1"}})
            set(name, QString::fromLatin1(v));
        set("Text2", QString::number(sim->tcpPort()));
    }

    // One serial poll, handled.
    void pollSerial(int framesExpected = 1) {
        const qsizetype before = frames->size();
        form->session()->serialPollTick();
        QTRY_VERIFY_WITH_TIMEOUT(frames->size() >= before + framesExpected, kWaitMs);
    }
    void connectTcp() {
        form->toggleConverter();
        QTRY_COMPARE_WITH_TIMEOUT(form->link()->state(), console::ConverterLink::State::Connected,
                                  kWaitMs);
    }
    // The reply the simulator logged last for a request over TCP.
    QString lastTcpReply() {
        static const QRegularExpression re(
            QStringLiteral("tcp \\S+ [0-9A-F ]+ -> ((?:[0-9A-F]{2} ?)+)"));
        QString last;
        auto it = re.globalMatch(sim->log());
        while (it.hasNext()) last = QLatin1Char(' ') + it.next().captured(1).trimmed();
        return last;
    }

private Q_SLOTS:
    void cleanup() {
        frames.reset();
        app.reset();
        sim.reset();
        form = nullptr;
    }

    // 发送 logs the raw reply, the first one joined to the design text; during
    // automatic polling too, and the next poll decodes again.
    void sendLogsRawReplies() {
        startConsole(SimProcess::Serial);
        form->sendCommand();  // "01 04 00 00 00 01": the temperature alone
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), 1, kWaitMs);
        const QString raw = frames->at(0).at(0).toString();
        QVERIFY(raw.startsWith(QLatin1Char(' ')));
        QVERIFY(sim->log().contains(QStringLiteral("tty 01 04 00 00 00 01 31 CA ->") + raw));
        QCOMPARE(logLines(), (QStringList{kDesign + raw, QString()}));
        QCOMPARE(text("Text6") + text("Text17") + text("Text18"), QStringLiteral("温度00"));

        form->toggleAutomatic();
        pollSerial();
        form->sendCommand();
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), 3, kWaitMs);
        QCOMPARE(logLines().at(2), frames->at(2).at(0).toString());
        QCOMPARE(logLines().at(2).size(), raw.size());
        QCOMPARE(text("Text17") + text("Text18"), QStringLiteral("10"));
        pollSerial();
        QCOMPARE(text("Text17") + text("Text18"), QStringLiteral("20"));
        QCOMPARE(logLines().size(), 5);
    }

    void checkFailures() {
        startConsole(SimProcess::Serial);
        form->toggleAutomatic();
        // A reply from another module than the box names.
        set("Text16", QStringLiteral("2"));
        form->session()->serialPollTick();
        set("Text16", QStringLiteral("1"));
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), 1, kWaitMs);
        QCOMPARE(logLines().at(0), kDesign + replyMessage(ReplyVerdict::WrongAddress));
        QCOMPARE(text("Text18"), QStringLiteral("1"));

        // An exception reply read as a poll reply: a command that the module
        // refuses, and a poll right behind it.
        set("Text4", QStringLiteral("01 04 00 05 00 01"));
        form->sendCommand();
        form->session()->serialPollTick();
        QVERIFY(sim->waitForLog(QStringLiteral("01 04 00 00 00 02 71 CB ->")));
        QTRY_VERIFY_WITH_TIMEOUT(
            !app->frame()->frames()->timer()->isActive() && frames->size() >= 2, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(logLines().contains(replyMessage(ReplyVerdict::WrongFunction)),
                                 kWaitMs);
        QCOMPARE(text("Text18"), QStringLiteral("2"));
        QCOMPARE(text("Text6") == QStringLiteral("温度"), text("Text17") == QStringLiteral("0"));
    }

    // Every reply with a wrong CRC: on the serial line each one counts a
    // failure, over the network nothing is shown.
    void badCrc() {
        startConsole(SimProcess::SerialAndTcp, {QStringLiteral("--bad-crc"), QStringLiteral("1")});
        form->toggleAutomatic();
        pollSerial();
        pollSerial();
        const QString message = replyMessage(ReplyVerdict::BadCrc);
        QCOMPARE(logLines(), (QStringList{kDesign + message, message, QString()}));
        QCOMPARE(text("Text6") + text("Text17") + text("Text18"), QStringLiteral("温度02"));

        connectTcp();
        form->session()->networkPollTick();
        QTRY_VERIFY_WITH_TIMEOUT(text("netStatus").contains(message), kWaitMs);
        QCOMPARE(text("Text6") + text("Text10"), QStringLiteral("温度最高温度"));
    }

    // Every reply with a pause in its middle: the serial line cuts it in two
    // frames, each failing its check; over the network it shows once.
    void splitReplies() {
        startConsole(SimProcess::SerialAndTcp, {QStringLiteral("--split"), QStringLiteral("100")});
        form->toggleAutomatic();
        pollSerial(2);
        QCOMPARE(logLines().at(0), kDesign + replyMessage(ReplyVerdict::Incomplete));
        QCOMPARE(logLines().size(), 3);
        QCOMPARE(text("Text6") + text("Text17") + text("Text18"), QStringLiteral("温度02"));

        connectTcp();
        QSignalSpy shown(form->findChild<QLineEdit *>("Text6"), &QLineEdit::textChanged);
        QSignalSpy arrivals(form->findChild<QTcpSocket *>("Winsock1"), &QTcpSocket::readyRead);
        form->session()->networkPollTick();
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, kWaitMs);
        QCOMPARE(arrivals.size(), 2);  // it did come in two pieces
        QCOMPARE(text("Text6"), temperatureOf(lastTcpReply()));
        QVERIFY(text("netStatus").startsWith(QStringLiteral("已连接")));
        form->exitWindow();  // 退出 takes the connection with the window
        flushDeletes();
        QVERIFY(sim->waitForLog(QStringLiteral("gone")));
    }

    void replyAfterStopChangesNothing() {
        startConsole(SimProcess::Serial, {QStringLiteral("--late"), QStringLiteral("150")});
        form->toggleAutomatic();
        form->session()->serialPollTick();
        form->toggleAutomatic();  // stopped while the reply is on its way
        QCOMPARE(text("Command30"), QStringLiteral("开启自动采集"));
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), 1, kWaitMs);
        QCOMPARE(logLines(), QStringList{kDesign});
        QCOMPARE(text("Text6") + text("Text17") + text("Text18"), QStringLiteral("温度00"));
    }

    // Both links on one bus: each keeps its own extremes, a reading below
    // zero is shown on both, the address box means the same module on both,
    // and 断开 leaves the serial polling on, whose figures agree with its log.
    void bothLinks() {
        startConsole(SimProcess::SerialAndTcp,
                     {QStringLiteral("--modules"), QStringLiteral("1,2,3,10")});
        form->toggleAutomatic();
        QCOMPARE(text("Command30"), QStringLiteral("关闭自动采集"));
        QVERIFY(Module1::bus()->isBusy());
        pollSerial();  // module 1, mild
        QVERIFY(!negative("Text6"));
        connectTcp();
        set("Text16", QStringLiteral("3"));  // the cold one, over the network
        form->session()->networkPollTick();
        QTRY_VERIFY_WITH_TIMEOUT(negative("Text6"), kWaitMs);
        QCOMPARE(text("Text10") + text("Text11"),
                 text("Text6") + text("Text6"));  // the network's own
        set("Text16", QStringLiteral("1"));
        pollSerial();
        QVERIFY(!negative("Text11"));  // the cold reading stayed out of the serial extremes

        set("Text16", QStringLiteral("10"));
        pollSerial();
        QVERIFY(sim->log().contains(QStringLiteral("tty 0A 04 00 00 00 02")));
        QCOMPARE(text("Text17"), QStringLiteral("3"));  // the network's replies are not counted
        form->session()->networkPollTick();
        QTRY_VERIFY_WITH_TIMEOUT(lastTcpReply().startsWith(QStringLiteral(" 0A 04 04")), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(text("Text6"), temperatureOf(lastTcpReply()), kWaitMs);
        QCOMPARE(sim->logCount(QStringLiteral(" 10 04 00 00 00 02 ")), 0);  // never 0x10

        set("Text16", QStringLiteral("3"));  // the cold one on the serial line
        pollSerial();
        const QString cold = text("Text6");
        QVERIFY2(negative("Text6") && text("Text11") == cold, qPrintable(cold));

        form->toggleConverter();  // 断开
        QCOMPARE(text("Command3"), QStringLiteral("连接"));
        QVERIFY(!timer("Timer1")->isActive() && timer("Timer2")->isActive());
        set("Text16", QStringLiteral("1"));
        timer("Timer2")->setInterval(100);  // a short period; the program's is 1000 ms
        QTRY_VERIFY_WITH_TIMEOUT(text("Text17").toInt() >= 8, kWaitMs);
        QVERIFY(sim->waitForLog(QStringLiteral("gone")));
        form->toggleAutomatic();  // from here on, late replies change nothing
        QVERIFY(!Module1::bus()->isBusy());
        // Every decoded serial reply is in the log; the boxes agree with it.
        QStringList temps;
        for (QString line : logLines()) {
            if (!line.remove(kDesign).isEmpty())
                temps << temperatureOf(line);
        }
        QCOMPARE(QString::number(temps.size()) + '/' + text("Text18"), text("Text17") + "/0");
        QCOMPARE(text("Text6"), temps.last());
        QVERIFY(!negative("Text6") && text("Text7").toDouble() > 0);
        auto byValue = [](const QString &a, const QString &b) {
            return a.toDouble() < b.toDouble();
        };
        QCOMPARE(text("Text10"), *std::max_element(temps.begin(), temps.end(), byValue));
        QCOMPARE(text("Text11"), *std::min_element(temps.begin(), temps.end(), byValue));
        QCOMPARE(text("Text11"), cold);
    }

    // The program's own network period; then the converter goes away, and
    // nobody listens any more.
    void tcpPollingAndFailures() {
        startConsole(SimProcess::Tcp);
        timer("Timer1")->setInterval(2000);  // the program's period
        connectTcp();
        QCOMPARE(text("Command3"), QStringLiteral("断开"));
        QVERIFY(timer("Timer1")->isActive());
        QVERIFY(sim->waitForLog(QStringLiteral(" 01 04 00 00 00 02 71 CB -> "), 3 * kWaitMs / 2));
        QTRY_COMPARE_WITH_TIMEOUT(text("Text6"), temperatureOf(lastTcpReply()), kWaitMs);

        sim->stop();
        QTRY_COMPARE_WITH_TIMEOUT(text("Command3"), QStringLiteral("连接"), kWaitMs);
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY2(text("netStatus").startsWith(QStringLiteral("连接已断开")),
                 qPrintable(text("netStatus")));
        form->toggleConverter();
        QTRY_COMPARE_WITH_TIMEOUT(text("Command3"), QStringLiteral("连接"), kWaitMs);
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY2(text("netStatus").endsWith(QStringLiteral("对方拒绝连接")),
                 qPrintable(text("netStatus")));
        QVERIFY(app->boxes.shown.isEmpty());
    }
};

QTEST_MAIN(TestConsoleEndToEnd)
#include "tst_console_e2e.moc"
