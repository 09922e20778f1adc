// The serial link end to end: the program's SerialPort, FrameAssembler and
// main frame on the simulator's pseudo-terminal.

#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include "app/MDImain.h"
#include "app/Module1.h"
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

QString missingDevice(const SimProcess &sim) {
    return sim.dir() + QStringLiteral("/ttyNone");
}
}  // namespace

class TestSerialEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void measurementReply();
    void silenceCutsFrames_data();
    void silenceCutsFrames();
    void openFailures();
    void staleBytesDiscardedAtOpening();
    void deviceVanishes();
    void frameOpensPortFromSettings_data();
    void frameOpensPortFromSettings();
    void frameReportsOpenFailures_data();
    void frameReportsOpenFailures();
    void frameLosesPort();
};

void TestSerialEndToEnd::measurementReply() {
    SimProcess sim(SimProcess::Serial, {QStringLiteral("--seed"), QStringLiteral("1")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(1);

    Link link;
    QCOMPARE(link.port.open(), PortError::None);
    QCOMPARE(link.port.Output(measurementRequest(1)), PortError::None);
    QTRY_COMPARE_WITH_TIMEOUT(link.window.texts.size(), 1, 5000);
    const QString text = link.window.texts.first();
    QCOMPARE(text.size(), 9 * 3);  // nine bytes, one blank and two digits each
    QVERIFY2(checkMeasurementReply(text, 1).ok(), qPrintable(text));
    QVERIFY(sim.log().contains(QStringLiteral("tty 01 04 00 00 00 02 71 CB ->") + text));
    // The whole reply went into that one text.
    QVERIFY(!link.frames.timer()->isActive());
    QCOMPARE(link.port.InBufferCount(), 0);
}

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
    QString all;
    for (int i = 0; i < sizes.size(); ++i) {
        QCOMPARE(link.window.texts[i].size(), sizes[i] * 3);
        all += link.window.texts[i];
    }
    QVERIFY(checkMeasurementReply(all, 2).ok());
}

void TestSerialEndToEnd::openFailures() {
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    SerialPort port;

    // No device at all.
    qputenv("QX7_COM4", missingDevice(sim).toLocal8Bit());
    port.setCommPort(4);
    QCOMPARE(port.open(), PortError::NoSuchPort);
    QVERIFY(!port.PortOpen());
    qunsetenv("QX7_COM4");

    // Another program holds the line.
    sim.attach(1);
    port.setCommPort(1);
    QSerialPort other(sim.linkPath());
    QVERIFY(other.open(QIODevice::ReadWrite));
    QCOMPARE(port.open(), PortError::PortInUse);
    QVERIFY(!port.PortOpen());
    other.close();
    QCOMPARE(port.open(), PortError::None);

    // Writing to a closed port is the port-not-open condition, never a silent loss.
    port.close();
    QCOMPARE(port.Output(measurementRequest(1)), PortError::PortNotOpen);
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

void TestSerialEndToEnd::deviceVanishes() {
    auto sim = std::make_unique<SimProcess>();
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    sim->attach(1);
    Link link;
    QSignalSpy lost(&link.port, &SerialPort::portLost);
    QCOMPARE(link.port.open(), PortError::None);

    sim->stop();
    // The port closes itself on the first error and says so once.
    QTRY_VERIFY_WITH_TIMEOUT(!link.port.PortOpen(), 5000);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    QCOMPARE(lost.size(), 1);
    QCOMPARE(link.port.Output(measurementRequest(1)), PortError::PortNotOpen);
    sim.reset();
}

void TestSerialEndToEnd::frameOpensPortFromSettings_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("commPort");
    QTest::newRow("0 is port 1") << QStringLiteral("0") << 1;
    QTest::newRow("2 is port 3") << QStringLiteral("2") << 3;
}

void TestSerialEndToEnd::frameOpensPortFromSettings() {
    QFETCH(QString, stored);
    QFETCH(int, commPort);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(commPort);

    auto *port = new SerialPort();
    AppFixture app(port);
    app.db().exec(QStringLiteral("update syssetting set mysetting='%1' where myitems='rs232port'")
                      .arg(stored));
    app.db().exec(
        QStringLiteral("update syssetting set mysetting=' 19200 ' where myitems='rs232speed'"));
    app.frame()->Form_Load();
    QVERIFY(app.boxes.shown.isEmpty());
    QVERIFY(port->PortOpen());
    QCOMPARE(port->CommPort(), commPort);
    QCOMPARE(port->deviceName(), sim.linkPath());
    QCOMPARE(port->Settings(), QStringLiteral("19200,n,8,1"));

    // Replies reach the window registered in rs232target.
    Recorder window;
    Module1::rs232target().registerTarget(&window, &window);
    QCOMPARE(Module1::MSComm1()->Output(measurementRequest(3)), PortError::None);
    QTRY_COMPARE_WITH_TIMEOUT(window.texts.size(), 1, 5000);
    QVERIFY(checkMeasurementReply(window.texts.first(), 3).ok());
}

void TestSerialEndToEnd::frameReportsOpenFailures_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing") << false << QStringLiteral("COM1不存在，请选择其他串口");
    QTest::newRow("opened elsewhere") << true << QStringLiteral("COM1被占用，请选择其他串口");
}

void TestSerialEndToEnd::frameReportsOpenFailures() {
    QFETCH(bool, exists);
    QFETCH(QString, text);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(1);
    QSerialPort other(sim.linkPath());
    if (exists)
        QVERIFY(other.open(QIODevice::ReadWrite));
    else
        qputenv("QX7_COM1", missingDevice(sim).toLocal8Bit());

    auto *port = new SerialPort();
    AppFixture app(port);
    app.frame()->Form_Load();
    QCOMPARE(app.boxes.texts(), QStringList{text});
    QCOMPARE(app.boxes.shown.first().title, QStringLiteral("设置错误！"));
    QCOMPARE(app.boxes.shown.first().icon, MsgIcon::Critical);
    QVERIFY(!port->PortOpen());
    QVERIFY(app.frame()->isVisible());
}

void TestSerialEndToEnd::frameLosesPort() {
    auto sim = std::make_unique<SimProcess>();
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    sim->attach(1);
    auto *port = new SerialPort();
    AppFixture app(port);
    app.frame()->Form_Load();
    QVERIFY(port->PortOpen());

    sim->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!port->PortOpen(), 5000);
    // Told once, in the status line; no box pops up for it.
    QVERIFY(
        app.frame()->statusBar()->currentMessage().startsWith(QStringLiteral("串口COM1已断开")));
    QVERIFY(app.boxes.shown.isEmpty());
    QCOMPARE(port->Output(measurementRequest(1)), PortError::PortNotOpen);
    sim.reset();
}

QTEST_MAIN(TestSerialEndToEnd)
#include "tst_serial_e2e.moc"
