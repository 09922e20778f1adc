// The serial link end to end: the program's SerialPort and FrameAssembler on
// the simulator's pseudo-terminal.

#include "support/SimProcess.h"

#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "bus/ReceiveRouter.h"
#include "bus/SerialPort.h"

#include <QTest>

namespace {
// A window that only records what it receives.
class Recorder : public QObject, public ReceiveTarget {
public:
    void receiveText(const QString &text) override { texts << text; }
    QStringList texts;
};
}  // namespace

class TestSerialEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void measurementReply();
};

void TestSerialEndToEnd::measurementReply() {
    SimProcess sim(SimProcess::Serial, {QStringLiteral("--seed"), QStringLiteral("1")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(1);

    SerialPort port;
    ReceiveRouter router;
    FrameAssembler frames(&port, &router);
    Recorder window;
    router.registerTarget(&window, &window);

    QCOMPARE(port.open(), PortError::None);
    QCOMPARE(port.Output(measurementRequest(1)), PortError::None);
    QTRY_COMPARE_WITH_TIMEOUT(window.texts.size(), 1, 5000);
    const QString text = window.texts.first();
    QCOMPARE(text.size(), 9 * 3);  // nine bytes, one blank and two digits each
    QVERIFY2(checkMeasurementReply(text, 1).ok(), qPrintable(text));
    QVERIFY(sim.log().contains(QStringLiteral("tty 01 04 00 00 00 02 71 CB ->") + text));
    // The whole reply went into that one text.
    QVERIFY(!frames.timer()->isActive());
    QCOMPARE(port.InBufferCount(), 0);
}

QTEST_GUILESS_MAIN(TestSerialEndToEnd)
#include "tst_serial_e2e.moc"
