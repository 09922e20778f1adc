// The serial link end to end: the program's SerialPort, FrameAssembler and
// main frame on the simulator's pseudo-terminal.

#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "bus/ReceiveRouter.h"
#include "bus/SerialPort.h"

#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
// A window that only records what it receives.
class Recorder : public QObject, public ReceiveTarget {
public:
    void receiveText(const QString &text) override { texts << text; }
    QStringList texts;
};

// The program's port, the end-of-frame timer and one registered window.
struct Link {
    SerialPort port;
    ReceiveRouter router;
    FrameAssembler frames{&port, &router};
    Recorder window;
    Link() { router.registerTarget(&window, &window); }
};
}  // namespace

class TestSerialEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void silenceCutsFrames_data();
    void silenceCutsFrames();
    void staleBytesDiscardedAtOpening();
    void frameOnTheSimulatorsLine();
    void lineThatNeverPauses();
};

void TestSerialEndToEnd::silenceCutsFrames_data() {
    QTest::addColumn<QString>("pause");
    QTest::addColumn<QList<int>>("sizes");  // bytes per delivered text
    // The reply's two halves come 5 ms apart: one text. 60 ms apart: two.
    QTest::newRow("5 ms") << QStringLiteral("5") << QList<int>{9};
    QTest::newRow("60 ms") << QStringLiteral("60") << QList<int>{4, 5};
}

void TestSerialEndToEnd::silenceCutsFrames() {
    QFETCH(QString, pause);
    QFETCH(QList<int>, sizes);
    SimProcess sim(SimProcess::Serial, {QStringLiteral("--split"), pause});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(1);
    Link link;
    QCOMPARE(link.port.open(), PortError::None);
    QCOMPARE(link.port.Output(measurementRequest(2)), PortError::None);
    QTRY_COMPARE_WITH_TIMEOUT(link.window.texts.size(), sizes.size(), 5000);
    QTRY_VERIFY(!link.frames.timer()->isActive());
    QCOMPARE(link.window.texts.size(), sizes.size());
    QCOMPARE(link.port.InBufferCount(), 0);
    QString all;
    for (int i = 0; i < sizes.size(); ++i) {
        QCOMPARE(link.window.texts[i].size(), sizes[i] * 3);  // a blank and two digits a byte
        all += link.window.texts[i];
    }
    // The module's whole reply, with a CRC that checks.
    QVERIFY2(checkMeasurementReply(all, 2).ok(), qPrintable(all));
    QVERIFY(sim.log().contains(QStringLiteral("tty") + receiveText(measurementRequest(2)) +
                               QStringLiteral(" ->") + all));
}

void TestSerialEndToEnd::staleBytesDiscardedAtOpening() {
    SimProcess sim(SimProcess::Serial, {QStringLiteral("--late"), QStringLiteral("300")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(1);
    Link link;
    QCOMPARE(link.port.open(), PortError::None);
    // The port closes before module 2 answers; its reply waits in the line.
    QCOMPARE(link.port.Output(measurementRequest(2)), PortError::None);
    QVERIFY(sim.waitForLog(QStringLiteral("tty 02 04 00 00 00 02")));
    link.port.close();
    const int peek =
        ::open(QFile::encodeName(sim.linkPath()).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(peek >= 0);
    int waiting = 0;
    QTRY_VERIFY_WITH_TIMEOUT((::ioctl(peek, FIONREAD, &waiting), waiting == 9), 5000);
    ::close(peek);

    QCOMPARE(link.port.open(), PortError::None);
    QCOMPARE(link.port.Output(measurementRequest(1)), PortError::None);
    QTRY_COMPARE_WITH_TIMEOUT(link.window.texts.size(), 1, 5000);
    QTRY_VERIFY(!link.frames.timer()->isActive());
    QCOMPARE(link.window.texts.size(), 1);
    QVERIFY2(checkMeasurementReply(link.window.texts.first(), 1).ok(),
             qPrintable(link.window.texts.first()));
}

void TestSerialEndToEnd::frameOnTheSimulatorsLine() {
    auto sim = std::make_unique<SimProcess>();
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    sim->attach(1);
    auto *port = new SerialPort();
    QSignalSpy lost(port, &SerialPort::portLost);
    AppFixture app(port);
    app.db().exec(
        QStringLiteral("update syssetting set mysetting=' 19200 ' where myitems='rs232speed'"));
    // Each failure to open at start: one box, and the program goes on.
    auto startFails = [&](const QString &text) {
        app.boxes.clear();
        app.frame()->openSavedPort();
        QCOMPARE(app.boxes.texts(), QStringList{text});
        QCOMPARE(app.boxes.shown.first().title, QStringLiteral("设置错误！"));
        QCOMPARE(app.boxes.shown.first().icon, MsgIcon::Critical);
        QVERIFY(!port->PortOpen());
        QVERIFY(app.frame()->isVisible());
        // Writing to a port that is not open is the port-not-open condition, never a silent loss.
        QCOMPARE(port->Output(measurementRequest(1)), PortError::PortNotOpen);
    };
    {
        QSerialPort other(sim->linkPath());  // another program holds the line
        QVERIFY(other.open(QIODevice::ReadWrite));
        startFails(QStringLiteral("COM1被占用，请选择其他串口"));
    }

    // Free again: the stored port 0 is port 1; the stored speed is trimmed.
    app.boxes.clear();
    app.frame()->openSavedPort();
    QVERIFY(app.boxes.shown.isEmpty());
    QVERIFY(port->PortOpen());
    QCOMPARE(port->CommPort(), 1);
    QCOMPARE(port->deviceName(), sim->linkPath());
    QCOMPARE(port->Settings(), QStringLiteral("19200,n,8,1"));

    // Replies reach the window registered in rs232target.
    Recorder window;
    Module1::bus()->router().registerTarget(&window, &window);
    QCOMPARE(Module1::bus()->port()->Output(measurementRequest(3)), PortError::None);
    QTRY_COMPARE_WITH_TIMEOUT(window.texts.size(), 1, 5000);
    QVERIFY(checkMeasurementReply(window.texts.first(), 3).ok());

    // The device goes away: the port closes itself on the first error and
    // says so once, in the status line; no box pops up for it.
    sim->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!port->PortOpen(), 5000);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    QCOMPARE(lost.size(), 1);
    QVERIFY(
        app.frame()->statusBar()->currentMessage().startsWith(QStringLiteral("串口COM1已断开")));
    QVERIFY(app.boxes.shown.isEmpty());
    // A start without the device.
    startFails(QStringLiteral("COM1不存在，请选择其他串口"));
    sim.reset();
}

// Another device on a pseudo-terminal sends a byte every 4 ms and never
// pauses for 25 ms: frames still close, 1 s after their first byte, and no
// byte stays in the port.
void TestSerialEndToEnd::lineThatNeverPauses() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    Link link;
    link.port.setCommPort(9);
    qputenv("QX7_COM9", name);
    QCOMPARE(link.port.open(), PortError::None);
    qunsetenv("QX7_COM9");
    qint64 mostWaiting = 0;
    QObject::connect(&link.frames, &FrameAssembler::frameDelivered,
                     [&] { mostWaiting = qMax(mostWaiting, link.port.InBufferCount()); });
    QTimer line;
    line.setInterval(4);
    QObject::connect(&line, &QTimer::timeout, [&] {
        const char byte = 0x55;
        QCOMPARE(::write(master, &byte, 1), ssize_t(1));
    });
    line.start();
    QTRY_VERIFY_WITH_TIMEOUT(link.window.texts.size() >= 2, 5000);
    line.stop();
    for (const QString &text : std::as_const(link.window.texts))
        QVERIFY(text.size() <= 3 * FrameAssembler::kMaxFrameBytes);
    QCOMPARE(mostWaiting, 0);
    link.port.close();
    ::close(slave);
    ::close(master);
}

QTEST_MAIN(TestSerialEndToEnd)
#include "tst_serial_e2e.moc"
