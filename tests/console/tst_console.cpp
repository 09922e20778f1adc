// The console: its decisions without the window (the address box, serial
// reply handling, extremes, the reassembly of TCP replies, the converter link
// against a local server); the window on an in-memory serial port (commands
// and CRC, the log, polling, the state that outlives the window, what it
// refuses); and end to end, the program's real serial port on the
// simulator's pseudo-terminal and its TCP client against the simulator's TCP
// mode on 127.0.0.1, both on one bus.
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/HexText.h"
#include "bus/SerialPort.h"
#include "console/ConsoleCommands.h"
#include "console/ConsoleReplies.h"
#include "console/ConverterLink.h"
#include "console/ui/Form1.h"
#include "support/AppFixture.h"
#include "support/Hex.h"
#include "support/SimProcess.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace console;
using L = QByteArrayList;
using C = SerialReplyOutcome::Count;

namespace {
const QString kDesign = QStringLiteral("读回的结果");
const QByteArray kGood = hex("01040400FA0258DB2F");  // 25 °C, 60 %
const QByteArray kBadCrc = hex("01040400FA0258DB2E");
constexpr int kWaitMs = 5000;
}  // namespace

class TestConsole : public QObject {
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
    QTimer *timer(const char *name) { return form->findChild<QTimer *>(name); }
    QString log() { return form->findChild<QPlainTextEdit *>("Text3")->toPlainText(); }
    QString crc() { return text("Text1") + ' ' + text("Text5"); }
    bool negative(const char *name) { return text(name).startsWith('-'); }

    // Opens the console. Its timers are slowed down to an hour: the tests
    // call the tick handlers themselves or give them a short period.
    void openConsole() {
        app->menu("sigboard");
        form = app->windows().form1IfOpen();
        QVERIFY(form);
        timer("Timer1")->setInterval(3600 * 1000);
        timer("Timer2")->setInterval(3600 * 1000);
    }
    void onFakePort() {
        app = std::make_unique<AppFixture>();
        openConsole();
    }
    // Bytes from the module, cut into a frame as the main window does.
    void reply(const QByteArray &bytes) {
        app->fakePort()->inject(bytes);
        app->bus().frames()->endOfFrame();
    }
    void startAutomatic() {
        form->toggleAutomatic();
        QVERIFY(timer("Timer2")->isActive());
    }

    // The simulator's modules 1, 2, 3 and 10 on both links, the program on it,
    // the console open with the converter at 127.0.0.1. Modules 1 and 2 read
    // mild values, module 3 is in the cold room, below zero.
    void onSimulator() {
        sim = std::make_unique<SimProcess>(SimProcess::SerialAndTcp,
                                           QStringList{"--seed", "5", "--modules", "1,2,3,10"});
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
        app = std::make_unique<AppFixture>(new SerialPort());
        app->frame()->openSavedPort();  // syssetting: port 1
        QVERIFY2(app->frame()->MSComm1()->PortOpen(), qPrintable(app->boxes.texts().join('\n')));
        openConsole();
        frames = std::make_unique<QSignalSpy>(app->bus().frames(), &FrameAssembler::frameDelivered);
        for (auto [name, v] :
             {std::pair{"Text13", "127"}, {"Text12", "0"}, {"Text9", "0"}, {"Text8", "1"}})
            set(name, QString::fromLatin1(v));
        set("Text2", QString::number(sim->tcpPort()));
    }
    // One serial poll, handled.
    void pollSerial() {
        const qsizetype before = frames->size();
        form->session()->serialPollTick();
        QTRY_VERIFY_WITH_TIMEOUT(frames->size() > before, kWaitMs);
    }
    // The reply the simulator logged last for a request over TCP.
    QString lastTcpReply() {
        static const QRegularExpression re("tcp \\S+ [0-9A-F ]+ -> ((?:[0-9A-F]{2} ?)+)");
        QString last;
        auto it = re.globalMatch(sim->log());
        while (it.hasNext()) last = ' ' + it.next().captured(1).trimmed();
        return last;
    }

private Q_SLOTS:
    void cleanup() {
        frames.reset();
        app.reset();
        sim.reset();
        form = nullptr;
    }

    // The address box: a whole decimal number from 0 to 255; -1 for refused.
    void addresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");
        QTest::newRow("decimal") << "10" << 10;
        QTest::newRow("blanks") << " 7 " << 7;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("255") << "255" << 255;
        for (const char *bad : {"256", "-1", "1.5", "abc", "", "0x10", "1 2"})
            QTest::addRow("refused '%s'", bad) << bad << -1;
    }
    void addresses() {
        QFETCH(QString, text);
        QFETCH(int, address);
        const std::optional<quint8> got = moduleAddress(text);
        QCOMPARE(got ? int(*got) : -1, address);
    }

    void extremesCompareNumbers() {
        Extremes e;
        const auto shown = [&] {
            return e.tmax() + '/' + e.tmin() + ' ' + e.hmax() + '/' + e.hmin();
        };
        QCOMPARE(shown(), QStringLiteral("/ /"));
        e.add({98, 500});
        e.add({102, 495});  // 10.2 beats 9.8, which a text comparison would not say
        QCOMPARE(shown(), QStringLiteral("10.2/9.8 50/49.5"));
        e.add({-100, 1000});
        QCOMPARE(shown(), QStringLiteral("10.2/-10 100/49.5"));
    }

    // What the window does with a receive text: log it, count it, show a reading ("T H").
    void serialReplies_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<ReplyMode>("mode");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<QString>("log");
        QTest::addColumn<C>("count");
        QTest::addColumn<QString>("shown");
        const QString good = receiveText(kGood), cold = receiveText(framed("010404FF9C01F4"));
        const QString reg = receiveText(hex("01030200017984"));
        const QString wet = receiveText(framed("01040401008000"));
        const ReplyMode command = ReplyMode::Command, poll = ReplyMode::Poll;
        QTest::newRow("command's reply, raw") << reg << command << false << reg << C::None << "";
        QTest::newRow("command, polling") << good << command << true << good << C::None << "";
        QTest::newRow("poll") << good << poll << true << good << C::Success << "25 60";
        QTest::newRow("polling stopped since") << good << poll << false << "" << C::None << "";
        QTest::newRow("blank") << " " << poll << true << "" << C::None << "";
        QTest::newRow("below zero") << cold << poll << true << cold << C::Success << "-10 50";
        QTest::newRow("bad CRC") << receiveText(kBadCrc) << poll << true
                                 << replyMessage(ReplyVerdict::BadCrc) << C::Failure << "";
        // A humidity register of 0x8000 or more: logged, the temperature shown, nothing counted.
        QTest::newRow("humidity 0x8000") << wet << poll << true << wet << C::None << "25.6 3276.8";
        QTest::newRow("other module")
            << receiveText(framed("02040400FA0258")) << poll << true
            << replyMessage(ReplyVerdict::WrongAddress) << C::Failure << "";
        QTest::newRow("lone byte") << receiveText(hex("01")) << poll << true << "" << C::None << "";
    }
    void serialReplies() {
        QFETCH(QString, text);
        QFETCH(ReplyMode, mode);
        QFETCH(bool, polling);
        QFETCH(QString, log);
        QFETCH(C, count);
        QFETCH(QString, shown);
        const SerialReplyOutcome out = decideSerialReply(text, mode, polling, 1);
        QCOMPARE(out.logLine, log);
        QCOMPARE(out.count, count);
        QCOMPARE(out.keepText, count == C::Failure);
        const auto m = out.measurement;
        QCOMPARE(m ? m->temperatureText() + ' ' + m->humidityText() : QString(), shown);
    }

    // Pieces as they come off the socket, the whole replies found, whether a bad CRC was seen.
    void reassembly_data() {
        QTest::addColumn<L>("pieces");
        QTest::addColumn<L>("replies");
        QTest::addColumn<bool>("badCrc");
        const QByteArray second = framed("010404006201F4");
        L bytewise;
        for (char c : kGood) bytewise << QByteArray(1, c);
        QTest::newRow("whole") << L{kGood} << L{kGood} << false;
        QTest::newRow("byte by byte") << bytewise << L{kGood} << false;
        QTest::newRow("two at once") << L{kGood + second} << L{kGood, second} << false;
        QTest::newRow("across pieces")
            << L{kGood + second.left(2), second.mid(2)} << L{kGood, second} << false;
        QTest::newRow("noise first") << L{hex("000001") + kGood} << L{kGood} << false;
        QTest::newRow("bad CRC") << L{kBadCrc} << L{} << true;
        QTest::newRow("exception") << L{hex("018402C2C1")} << L{hex("018402C2C1")} << false;
        QTest::newRow("register's reply") << L{hex("01030200017984")} << L{} << false;
        QTest::newRow("stale half, then whole") << L{kGood.left(5), kGood} << L{kGood} << true;
        QTest::newRow("bad, then good") << L{kBadCrc, kGood} << L{kGood} << true;
    }
    void reassembly() {
        QFETCH(L, pieces);
        QFETCH(L, replies);
        QFETCH(bool, badCrc);
        ReplyAssembler assembler;
        L got;
        bool sawBadCrc = false;
        for (const QByteArray &piece : pieces) {
            const ReplyAssembler::Result r = assembler.add(piece);
            got += r.replies;
            sawBadCrc = sawBadCrc || r.badCrc > 0;
        }
        QCOMPARE(got, replies);
        QCOMPARE(sawBadCrc, badCrc);
        QVERIFY(assembler.pending() < modbus::kMeasurementReplyLength);
    }

    // The link against a server on this machine: a reply, the reply check,
    // a half reply, an own close, a connection that never completes.
    void converterLink() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket socket;
        ConverterLink link(&socket);
        QSignalSpy states(&link, &ConverterLink::stateChanged);
        QSignalSpy measured(&link, &ConverterLink::measured);
        QSignalSpy rejected(&link, &ConverterLink::rejected);
        QVERIFY(!link.poll(1));  // not connected yet
        const QString at = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        link.open(QStringLiteral("127.0.0.1"), server.serverPort());
        QTRY_COMPARE(link.state(), ConverterLink::State::Connected);
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        QVERIFY(link.poll(1));
        peer->write(kGood);
        QTRY_COMPARE(measured.size(), 1);  // its values: see the end-to-end tests
        // A whole reply from another module is refused, with the check's message.
        QVERIFY(link.poll(1));
        peer->write(framed("02040400FA0258"));
        QTRY_COMPARE(rejected.size(), 1);
        QCOMPARE(rejected.at(0).at(0).toString(), replyMessage(ReplyVerdict::WrongAddress));
        // Half a reply, then the next poll: reported as incomplete. The link
        // reads before the spy hears of an arrival.
        QSignalSpy arrivals(&socket, &QTcpSocket::readyRead);
        peer->write(kGood.left(4));
        QTRY_COMPARE(arrivals.size(), 1);
        QCOMPARE(rejected.size(), 1);
        QVERIFY(link.poll(1));
        QCOMPARE(rejected.size(), 2);
        QCOMPARE(rejected.at(1).at(0).toString(), replyMessage(ReplyVerdict::Incomplete));
        QCOMPARE(measured.size(), 1);

        const qsizetype count = states.size();
        link.close();
        QCoreApplication::processEvents();
        QCOMPARE(link.state(), ConverterLink::State::Closed);
        QCOMPARE(states.size(), count + 1);  // no "dropped" beside an own close
        QCOMPARE(states.last().at(1).toString(), "已断开 " + at);

        // The converter goes away: said once, the link closed.
        link.open(QStringLiteral("127.0.0.1"), server.serverPort());
        QTRY_VERIFY(server.hasPendingConnections());
        QTRY_COMPARE(link.state(), ConverterLink::State::Connected);
        server.nextPendingConnection()->close();
        QTRY_COMPARE(link.state(), ConverterLink::State::Closed);
        QCOMPARE(states.last().at(1).toString(), "连接已断开 " + at + "：对方关闭了连接");

        link.open(QStringLiteral("127.0.0.1"), server.serverPort());
        QVERIFY(link.connectTimer()->isActive());
        // The timeout's handler, as if the converter never answered.
        QVERIFY(QMetaObject::invokeMethod(link.connectTimer(), "timeout"));
        QCOMPARE(link.state(), ConverterLink::State::Closed);
        QCOMPARE(states.last().at(1).toString(), "无法连接 " + at + "：连接超时");
        // Nobody listens any more.
        server.close();
        link.open(QStringLiteral("127.0.0.1"), at.section(':', 1).toUShort());
        QTRY_COMPARE(link.state(), ConverterLink::State::Closed);
        QCOMPARE(states.last().at(1).toString(), "无法连接 " + at + "：对方拒绝连接");
    }

    void crcAndPresets() {
        onFakePort();
        form->showCrc();
        QCOMPARE(crc(), QStringLiteral("31 CA"));
        set("Text4", QStringLiteral("01 03 00 0D 00 01 "));
        form->showCrc();
        QCOMPARE(text("Text4"), QStringLiteral("01 03 00 0D 00 01"));  // trimmed back into the box
        QCOMPARE(crc(), QStringLiteral("15 C9"));
        form->choosePreset(1);
        QCOMPARE(text("Text4"), QStringLiteral("01 04 00 01 00 01"));
        QCOMPARE(crc(), QStringLiteral("15 C9"));  // not refreshed by a preset
        form->choosePreset(8);                     // 读485收发间隔
        QCOMPARE(text("Text4"), QStringLiteral("01 03 00 0D 00 01"));
    }

    void refusals() {
        onFakePort();
        // What cannot be a command is said by both buttons (the texts are the
        // core's); nothing is sent, the CRC boxes stay.
        set("Text4", QStringLiteral("01 04 100"));
        form->showCrc();
        form->sendCommand();
        QCOMPARE(app->boxes.texts(), QStringList(2, app->boxes.texts().value(0)));
        QVERIFY(app->boxes.texts().at(0).contains(QStringLiteral("“100”超过FF")));
        QVERIFY(app->fakePort()->written.isEmpty());
        QCOMPARE(crc(), QStringLiteral("C1 C2"));
        app->boxes.clear();
        set("Text4", QString());
        form->showCrc();
        QCOMPARE(app->boxes.texts(),
                 QStringList(QStringLiteral("请先输入命令，例如：01 04 00 00 00 01")));

        // A closed port: 发送 says so and leaves the port free; a poll says
        // so once and stops the polling.
        app->boxes.clear();
        set("Text4", QStringLiteral("01 04 00 00 00 01"));
        app->bus().seize(BusJob::ConsolePolling);
        app->fakePort()->setOpen(false);
        form->sendCommand();
        QVERIFY(!app->bus().isBusy());
        startAutomatic();
        form->session()->serialPollTick();
        QCOMPARE(app->boxes.texts(), QStringList(2, QStringLiteral("请先打开串口")));
        QVERIFY(!timer("Timer2")->isActive());
        QCOMPARE(text("Command30"), QStringLiteral("开启自动采集"));
        QVERIFY(!app->bus().isBusy());
    }

    void sendLogsRawReplies() {
        onFakePort();
        form->choosePreset(3);  // the unedited placeholder counts as 00
        form->sendCommand();
        QCOMPARE(app->fakePort()->written, QByteArrayList{framed("010600000000")});
        reply(hex("01030200017984"));
        reply(hex("01030200017984"));  // the same text again is logged again
        QCOMPARE(log(), kDesign + " 01 03 02 00 01 79 84\n 01 03 02 00 01 79 84\n");
        QTest::mouseDClick(form->findChild<QPlainTextEdit *>("Text3")->viewport(), Qt::LeftButton);
        QCOMPARE(log(), QString());  // a double click clears the log
        reply(hex("0106000000018C0A"));
        QCOMPARE(log(), QStringLiteral(" 01 06 00 00 00 01 8C 0A\n"));
    }

    // A bad address or converter port is said in a status text, not in a box every second.
    void badAddressAndPortTexts() {
        onFakePort();
        set("Text2", QStringLiteral("12x"));
        form->toggleConverter();
        QCOMPARE(text("Command3"), QStringLiteral("连接"));
        QVERIFY(!timer("Timer1")->isActive());
        QVERIFY(text("netStatus").startsWith(QStringLiteral("端口号无效")));
        startAutomatic();
        set("Text16", QStringLiteral("abc"));
        form->session()->serialPollTick();
        QVERIFY(app->fakePort()->written.isEmpty());
        QVERIFY(text("pollStatus").contains(QStringLiteral("模块地址无效")));
        QVERIFY(timer("Timer2")->isActive());
        QVERIFY(app->boxes.shown.isEmpty());
        set("Text16", QStringLiteral("10"));
        form->session()->serialPollTick();
        QCOMPARE(app->fakePort()->written, QByteArrayList{measurementRequest(0x0A)});
        QCOMPARE(text("pollStatus"), QString());
    }

    // Polls and their replies; what lives on after the window is closed.
    void pollingAndWhatOutlivesTheWindow() {
        onFakePort();
        startAutomatic();
        QCOMPARE(text("Command30"), QStringLiteral("关闭自动采集"));
        QVERIFY(app->bus().isBusy());
        form->session()->serialPollTick();
        QCOMPARE(app->fakePort()->written, QByteArrayList{hex("01040000000271CB")});
        const QByteArray warm = framed("010404012C0258");  // 30 °C, 60 %
        reply(warm);
        QCOMPARE(text("Text6") + ' ' + text("Text7") + ' ' + text("Text17") + text("Text18"),
                 QStringLiteral("30 60 10"));
        QCOMPARE(text("rcv232"), QString());
        // The same reply of another module twice is counted twice; it stays in rcv232.
        const QByteArray other = framed("02040400FA0258");
        for (int i = 0; i < 2; ++i) {
            form->session()->serialPollTick();
            reply(other);
        }
        const QString message = replyMessage(ReplyVerdict::WrongAddress);
        QCOMPARE(log(), kDesign + receiveText(warm) + '\n' + message + '\n' + message + '\n');
        QCOMPARE(text("Text6") + ' ' + text("Text17") + text("Text18"), QStringLiteral("30 12"));
        QCOMPARE(text("rcv232"), receiveText(other));
        form->exitWindow();  // 退出
        flushDeletes();
        QVERIFY(!app->windows().form1IfOpen());
        QVERIFY(!app->bus().isBusy());
        reply(kGood);  // reaches no closed window

        openConsole();
        QCOMPARE(text("Text17") + text("Text18") + text("Text10"), QStringLiteral("00最高温度"));
        QCOMPARE(log(), kDesign);
        QCOMPARE(form->state().rcvmode, ReplyMode::Poll);
        startAutomatic();
        form->session()->serialPollTick();
        reply(kGood);
        QCOMPARE(
            text("Text10") + '/' + text("Text11") + ' ' + text("Text14") + '/' + text("Text15"),
            QStringLiteral("30/25 60/60"));

        // Closed by its close box while polling: the port is not left held.
        QVERIFY(app->bus().isBusy());
        form->parentWidget()->close();
        flushDeletes();
        QVERIFY(!app->windows().form1IfOpen());
        QVERIFY(!app->bus().isBusy());
    }

    // Both links on one bus: each keeps its own extremes, a reading below
    // zero is shown on both, the address box means the same module on both,
    // and 断开 leaves the serial polling on.
    void bothLinks() {
        onSimulator();
        form->toggleAutomatic();
        pollSerial();  // module 1, mild
        QVERIFY(!negative("Text6"));
        form->toggleConverter();
        QTRY_COMPARE_WITH_TIMEOUT(form->link()->state(), ConverterLink::State::Connected, kWaitMs);
        set("Text16", "3");  // the cold one, over the network
        form->session()->networkPollTick();
        QTRY_VERIFY_WITH_TIMEOUT(negative("Text6"), kWaitMs);
        QCOMPARE(text("Text10") + text("Text11"), text("Text6") + text("Text6"));  // its own
        set("Text16", "1");
        pollSerial();
        QVERIFY(!negative("Text11"));  // the cold reading stayed out of the serial extremes

        set("Text16", "10");
        pollSerial();
        QVERIFY(sim->log().contains("tty 0A 04 00 00 00 02"));
        QCOMPARE(text("Text17"), QStringLiteral("3"));  // the network's replies are not counted
        form->session()->networkPollTick();
        QTRY_VERIFY_WITH_TIMEOUT(lastTcpReply().startsWith(" 0A 04 04"), kWaitMs);
        QCOMPARE(sim->logCount(" 10 04 00 00 00 02 "), 0);  // never 0x10
        set("Text16", "3");                                 // the cold one on the serial line
        pollSerial();
        QVERIFY(negative("Text6") && text("Text11") == text("Text6"));

        form->toggleConverter();  // 断开
        QCOMPARE(text("Command3"), QStringLiteral("连接"));
        QVERIFY(sim->waitForLog("gone"));
        QVERIFY(!timer("Timer1")->isActive() && timer("Timer2")->isActive());
        timer("Timer2")->setInterval(100);  // a short period; the program's is 1000 ms
        QTRY_VERIFY_WITH_TIMEOUT(text("Text17").toInt() >= 6, kWaitMs);
        form->toggleAutomatic();
        QVERIFY(!app->bus().isBusy());
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
