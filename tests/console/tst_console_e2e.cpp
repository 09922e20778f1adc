// The console end to end: the program's real serial port on the simulator's
// pseudo-terminal, and its TCP client against the simulator's TCP mode on
// 127.0.0.1.
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "bus/SerialPort.h"
#include "console/Form1.h"
#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
const QString kDesign = QStringLiteral("读回的结果");
constexpr int kWaitMs = 5000;

QString temperatureOf(const QString &replyText)
{
    return decodeMeasurement(receiveTextBytes(replyText)).temperatureText();
}
}  // namespace

class TestConsoleEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<AppFixture> app;
    Form1 *form = nullptr;
    std::unique_ptr<QSignalSpy> frames;  // receive texts cut by the main window

    QLineEdit *box(const char *name) { return form->findChild<QLineEdit *>(QString::fromLatin1(name)); }
    QString text(const char *name) { return box(name)->text(); }
    QTimer *timer(const char *name) { return form->findChild<QTimer *>(QString::fromLatin1(name)); }
    QString caption(const char *name)
    {
        return form->findChild<QPushButton *>(QString::fromLatin1(name))->text();
    }
    QStringList logLines()
    {
        return form->findChild<QPlainTextEdit *>(QStringLiteral("Text3"))->toPlainText().split(QLatin1Char('\n'));
    }
    QString extremes()
    {
        return text("Text10") + QLatin1Char('/') + text("Text11") + QLatin1Char(' ') + text("Text14") +
               QLatin1Char('/') + text("Text15");
    }

    // The simulator with these links and options, the program on it, the
    // console open. The console's timers are held back unless `runTimers`.
    void startConsole(SimProcess::Links links, const QStringList &options = {})
    {
        Form1::state().reset();
        sim = std::make_unique<SimProcess>(links, QStringList{QStringLiteral("--seed"), QStringLiteral("5")} +
                                                      options);
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
        if (links & SimProcess::Serial)
            sim->attach(1);
        app = std::make_unique<AppFixture>(new SerialPort());
        if (links & SimProcess::Serial) {
            app->frame()->Form_Load();  // syssetting: port 1
            QVERIFY2(app->frame()->MSComm1()->PortOpen(), qPrintable(app->boxes.texts().join('\n')));
        }
        app->menu("sigboard");
        form = Module1::form1IfOpen();
        QVERIFY(form);
        timer("Timer1")->setInterval(3600 * 1000);
        timer("Timer2")->setInterval(3600 * 1000);
        frames = std::make_unique<QSignalSpy>(app->frame()->frames(), &FrameAssembler::frameDelivered);
        box("Text13")->setText(QStringLiteral("127"));
        box("Text12")->setText(QStringLiteral("0"));
        box("Text9")->setText(QStringLiteral("0"));
        box("Text8")->setText(QStringLiteral("1"));
        box("Text2")->setText(QString::number(sim->tcpPort()));
    }

    // One serial poll, handled.
    void pollSerial(int framesExpected = 1)
    {
        const qsizetype before = frames->size();
        form->Timer2_Timer();
        QTRY_VERIFY_WITH_TIMEOUT(frames->size() >= before + framesExpected, kWaitMs);
    }

    void connectTcp()
    {
        form->Command3_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form->link()->state(), console::ConverterLink::State::Connected, kWaitMs);
    }

    // The reply the simulator logged last for a request over TCP.
    QString lastTcpReply()
    {
        static const QRegularExpression re(QStringLiteral("tcp \\S+ [0-9A-F ]+ -> ((?:[0-9A-F]{2} ?)+)"));
        QString last;
        auto it = re.globalMatch(sim->log());
        while (it.hasNext())
            last = QLatin1Char(' ') + it.next().captured(1).trimmed();
        return last;
    }

private Q_SLOTS:
    void cleanup()
    {
        frames.reset();
        app.reset();
        sim.reset();
        form = nullptr;
    }

    void sendLogsRawReplies()
    {
        startConsole(SimProcess::Serial);
        form->Command28_Click();  // "01 04 00 00 00 01": the temperature alone
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), 1, kWaitMs);
        const QString reply = frames->at(0).at(0).toString();
        QVERIFY(sim->log().contains(QStringLiteral("tty 01 04 00 00 00 01 31 CA ->") + reply));
        QCOMPARE(logLines(), (QStringList{kDesign + reply, QString()}));
        QVERIFY(reply.startsWith(QLatin1Char(' ')));
        QCOMPARE(text("Text6"), QStringLiteral("温度"));
        QCOMPARE(text("Text17") + text("Text18"), QStringLiteral("00"));
    }

    void automaticPollingShowsTheModule()
    {
        startConsole(SimProcess::Serial);
        // The module in the cold room reads below zero, and is shown.
        box("Text16")->setText(QStringLiteral("3"));
        form->Command30_Click();
        pollSerial();
        QVERIFY2(text("Text6").startsWith(QLatin1Char('-')), qPrintable(text("Text6")));
        QCOMPARE(text("Text11"), text("Text6"));
        form->Command30_Click();

        box("Text16")->setText(QStringLiteral("1"));
        timer("Timer2")->setInterval(100);  // a short period; the program's is 1000 ms
        form->Command30_Click();
        QVERIFY(Module1::rs232busy());
        QTRY_VERIFY_WITH_TIMEOUT(text("Text17").toInt() >= 5, kWaitMs);
        form->Command30_Click();  // from here on, late replies change nothing
        QVERIFY(!Module1::rs232busy());

        // Every decoded reply is in the log; the boxes agree with it.
        QStringList temps;
        for (QString line : logLines()) {
            line.remove(kDesign);
            if (!line.isEmpty())
                temps << temperatureOf(line);
        }
        QCOMPARE(QString::number(temps.size()), text("Text17"));
        QCOMPARE(text("Text18"), QStringLiteral("0"));
        QCOMPARE(text("Text6"), temps.last());
        QVERIFY(!temps.last().startsWith(QLatin1Char('-')));
        auto byValue = [](const QString &a, const QString &b) { return a.toDouble() < b.toDouble(); };
        QCOMPARE(text("Text10"), *std::max_element(temps.begin(), temps.end(), byValue));
        QCOMPARE(text("Text11"), *std::min_element(temps.begin(), temps.end(), byValue));
        QCOMPARE(text("Text11"), temps.first());  // the cold one
        QVERIFY(text("Text7").toDouble() > 0);
    }

    void checkFailures()
    {
        startConsole(SimProcess::Serial);
        form->Command30_Click();

        // A reply from another module than the box names.
        box("Text16")->setText(QStringLiteral("2"));
        form->Timer2_Timer();
        box("Text16")->setText(QStringLiteral("1"));
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), 1, kWaitMs);
        QCOMPARE(logLines().at(0), kDesign + replyMessage(ReplyVerdict::WrongAddress));
        QCOMPARE(text("Text18"), QStringLiteral("1"));

        // An exception reply read as a poll reply: a command that the module
        // refuses, and a poll right behind it.
        box("Text4")->setText(QStringLiteral("01 04 00 05 00 01"));
        form->Command28_Click();
        form->Timer2_Timer();
        QVERIFY(sim->waitForLog(QStringLiteral("01 04 00 00 00 02 71 CB ->")));
        QTRY_VERIFY_WITH_TIMEOUT(!app->frame()->frames()->timer()->isActive() && frames->size() >= 2, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(logLines().contains(replyMessage(ReplyVerdict::WrongFunction)), kWaitMs);
        QCOMPARE(text("Text18"), QStringLiteral("2"));
        QCOMPARE(text("Text6") == QStringLiteral("温度"), text("Text17") == QStringLiteral("0"));
    }

    void badCrcCountsEveryReply()
    {
        startConsole(SimProcess::Serial, {QStringLiteral("--bad-crc"), QStringLiteral("1")});
        form->Command30_Click();
        pollSerial();
        pollSerial();
        const QString message = replyMessage(ReplyVerdict::BadCrc);
        QCOMPARE(logLines(), (QStringList{kDesign + message, message, QString()}));
        QCOMPARE(text("Text18"), QStringLiteral("2"));
        QCOMPARE(text("Text17"), QStringLiteral("0"));
        QCOMPARE(text("Text6"), QStringLiteral("温度"));
    }

    void splitReplyIsIncomplete()
    {
        // A pause longer than the end-of-frame silence cuts the reply in two.
        startConsole(SimProcess::Serial, {QStringLiteral("--split"), QStringLiteral("80")});
        form->Command30_Click();
        pollSerial(2);
        QCOMPARE(logLines().at(0), kDesign + replyMessage(ReplyVerdict::Incomplete));
        QCOMPARE(logLines().size(), 3);  // the second half fails its own check
        QCOMPARE(text("Text18"), QStringLiteral("2"));
        QCOMPARE(text("Text6"), QStringLiteral("温度"));
    }

    void replyAfterStopChangesNothing()
    {
        startConsole(SimProcess::Serial, {QStringLiteral("--late"), QStringLiteral("150")});
        form->Command30_Click();
        form->Timer2_Timer();
        form->Command30_Click();  // stopped while the reply is on its way
        QCOMPARE(caption("Command30"), QStringLiteral("开启自动采集"));
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), 1, kWaitMs);
        QCOMPARE(logLines(), QStringList{kDesign});
        QCOMPARE(text("Text17") + text("Text18"), QStringLiteral("00"));
        QCOMPARE(text("Text6"), QStringLiteral("温度"));
    }

    void sendDuringPolling()
    {
        startConsole(SimProcess::Serial);
        form->Command30_Click();
        pollSerial();
        QCOMPARE(text("Text17"), QStringLiteral("1"));
        const qsizetype before = frames->size();
        form->Command28_Click();
        QTRY_COMPARE_WITH_TIMEOUT(frames->size(), before + 1, kWaitMs);
        const QString raw = frames->last().at(0).toString();
        QCOMPARE(raw.size(), 7 * 3);  // the reply to "01 04 00 00 00 01", logged as it came
        QCOMPARE(logLines().at(1), raw);
        QCOMPARE(text("Text17") + text("Text18"), QStringLiteral("10"));
        pollSerial();
        QCOMPARE(text("Text17"), QStringLiteral("2"));
        QCOMPARE(logLines().size(), 4);
    }

    void addressTenOnBothLinks()
    {
        startConsole(SimProcess::SerialAndTcp, {QStringLiteral("--modules"), QStringLiteral("1,10")});
        box("Text16")->setText(QStringLiteral("10"));
        form->Command30_Click();
        pollSerial();
        QVERIFY(sim->log().contains(QStringLiteral("tty 0A 04 00 00 00 02")));
        QCOMPARE(text("Text17"), QStringLiteral("1"));

        connectTcp();
        form->Timer1_Timer();
        QVERIFY(sim->waitForLog(QStringLiteral(" 0A 04 00 00 00 02 ")));
        QTRY_VERIFY_WITH_TIMEOUT(lastTcpReply().startsWith(QStringLiteral(" 0A 04 04")), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(text("Text6"), temperatureOf(lastTcpReply()), kWaitMs);
        QCOMPARE(sim->logCount(QStringLiteral(" 10 04 00 00 00 02 ")), 0);  // never 0x10
    }

    // ---- TCP ----

    void tcpPollsEveryTwoSeconds()
    {
        startConsole(SimProcess::Tcp);
        timer("Timer1")->setInterval(2000);
        connectTcp();
        QCOMPARE(caption("Command3"), QStringLiteral("断开"));
        QVERIFY(timer("Timer1")->isActive());
        QCOMPARE(timer("Timer1")->interval(), 2000);
        QVERIFY(sim->waitForLog(QStringLiteral(" 01 04 00 00 00 02 71 CB -> "), 3 * kWaitMs / 2));
        QTRY_COMPARE_WITH_TIMEOUT(text("Text6"), temperatureOf(lastTcpReply()), kWaitMs);
        QCOMPARE(extremes(), text("Text6") + QLatin1Char('/') + text("Text6") + QLatin1Char(' ') + text("Text7") +
                                 QLatin1Char('/') + text("Text7"));
        QCOMPARE(text("Text17"), QStringLiteral("0"));  // the network link counts nothing
    }

    void tcpSplitReplyShowsOnce()
    {
        startConsole(SimProcess::Tcp, {QStringLiteral("--split"), QStringLiteral("100")});
        connectTcp();
        QSignalSpy shown(box("Text6"), &QLineEdit::textChanged);
        QSignalSpy arrivals(form->findChild<QTcpSocket *>(QStringLiteral("Winsock1")), &QTcpSocket::readyRead);
        form->Timer1_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, kWaitMs);
        QCOMPARE(arrivals.size(), 2);  // it did come in two pieces
        QCOMPARE(text("Text6"), temperatureOf(lastTcpReply()));
        QVERIFY(form->findChild<QLabel *>(QStringLiteral("netStatus"))->text().startsWith(QStringLiteral("已连接")));
    }

    void tcpCorruptReplyShowsNothing()
    {
        startConsole(SimProcess::Tcp, {QStringLiteral("--bad-crc"), QStringLiteral("1")});
        connectTcp();
        form->Timer1_Timer();
        auto *status = form->findChild<QLabel *>(QStringLiteral("netStatus"));
        QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(replyMessage(ReplyVerdict::BadCrc)), kWaitMs);
        QCOMPARE(text("Text6"), QStringLiteral("温度"));
        QCOMPARE(text("Text10"), QStringLiteral("最高温度"));
    }

    void linksKeepTheirOwnExtremes()
    {
        startConsole(SimProcess::SerialAndTcp);
        form->Command30_Click();
        pollSerial();  // module 1, mild
        QVERIFY(!text("Text6").startsWith(QLatin1Char('-')));

        connectTcp();
        box("Text16")->setText(QStringLiteral("3"));  // the cold one, over the network
        form->Timer1_Timer();
        QTRY_VERIFY_WITH_TIMEOUT(text("Text6").startsWith(QLatin1Char('-')), kWaitMs);
        QCOMPARE(text("Text10"), text("Text6"));  // only the network's own reading
        QCOMPARE(text("Text11"), text("Text6"));

        box("Text16")->setText(QStringLiteral("1"));
        pollSerial();
        QVERIFY(!text("Text11").startsWith(QLatin1Char('-')));  // the cold reading stayed out
        QCOMPARE(text("Text17"), QStringLiteral("2"));
    }

    void disconnectLeavesSerialPolling()
    {
        startConsole(SimProcess::SerialAndTcp);
        timer("Timer2")->setInterval(100);
        form->Command30_Click();
        connectTcp();
        form->Command3_Click();  // 断开
        QCOMPARE(caption("Command3"), QStringLiteral("连接"));
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY(timer("Timer2")->isActive());
        const int before = text("Text17").toInt();
        QTRY_VERIFY_WITH_TIMEOUT(text("Text17").toInt() >= before + 2, kWaitMs);
        QVERIFY(sim->waitForLog(QStringLiteral("gone")));
    }

    void droppedAndRefusedConnections()
    {
        startConsole(SimProcess::Tcp);
        connectTcp();
        auto *status = form->findChild<QLabel *>(QStringLiteral("netStatus"));
        sim->stop();  // the converter goes away
        QTRY_COMPARE_WITH_TIMEOUT(caption("Command3"), QStringLiteral("连接"), kWaitMs);
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY2(status->text().startsWith(QStringLiteral("连接已断开")), qPrintable(status->text()));

        form->Command3_Click();  // nobody listens on that port now
        QTRY_COMPARE_WITH_TIMEOUT(caption("Command3"), QStringLiteral("连接"), kWaitMs);
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY2(status->text().endsWith(QStringLiteral("对方拒绝连接")), qPrintable(status->text()));
        QVERIFY(app->boxes.shown.isEmpty());
    }
};

QTEST_MAIN(TestConsoleEndToEnd)
#include "tst_console_e2e.moc"
