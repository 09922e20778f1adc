// End of frame and routing of receive texts: on an in-memory port, then end
// to end, the program's SerialPort, FrameAssembler and main frame on the
// simulator's pseudo-terminal.
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "bus/ReceiveRouter.h"
#include "bus/SerialPort.h"
#include "support/AppFixture.h"
#include "support/SimProcess.h"

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
struct Window : QWidget, ReceiveTarget {
    void receiveText(const QString &text) override { texts << text; }
    QStringList texts;
};

// A port, the end-of-frame timer and a router.
template <class Port>
struct Link {
    Port port;
    ReceiveRouter router;
    FrameAssembler frames{&port, &router};
    Window window;
    Link() { router.registerTarget(&window, &window); }
};

// Bytes arrive on an in-memory port; the line then stays quiet.
void frame(Link<FakeSerialPort> &b, const QByteArray &bytes) {
    b.port.inject(bytes);
    QVERIFY(b.frames.timer()->isActive());
    b.frames.endOfFrame();
    QVERIFY(!b.frames.timer()->isActive());
}
}  // namespace

class TestRouting : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deliveryToTheLastRegistered() {
        Link<FakeSerialPort> b;
        b.port.setOpen(true);
        Window second;
        b.router.registerTarget(&second, &second);
        frame(b, QByteArray("\x0A\x10\xFF", 3));
        // The same text again is a new reply: delivered too.
        frame(b, QByteArray("\x0A\x10\xFF", 3));
        // Bytes that arrive just before the timer's handler reads are part of the frame.
        b.port.inject("\x01\x04");
        frame(b, "\x04");
        // Unregistering someone else changes nothing.
        b.router.unregister(&b.window);
        frame(b, "\x02");
        QVERIFY(b.window.texts.isEmpty());
        QCOMPARE(second.texts, (QStringList{" 0A 10 FF", " 0A 10 FF", " 01 04 04", " 02"}));
    }

    void nobodyRegisteredDropsData() {
        Link<FakeSerialPort> b;
        b.port.setOpen(true);
        QSignalSpy spy(&b.frames, &FrameAssembler::frameDelivered);
        auto *w = new Window;
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->show();
        b.router.registerTarget(w, w);
        QVERIFY(w->close());  // deleted later; forgotten now
        QCOMPARE(b.router.target(), nullptr);
        frame(b, "\x05\x06");                 // must not reach the closing window
        QCOMPARE(b.port.InBufferCount(), 0);  // read and dropped
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().at(1).toBool(), false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // A window that registers later does not get the old bytes.
        Window later;
        b.router.registerTarget(&later, &later);
        frame(b, "\x07");
        // A destroyed window is forgotten too.
        auto *gone = new Window;
        b.router.registerTarget(gone, gone);
        delete gone;
        QCOMPARE(b.router.target(), nullptr);
        frame(b, "\x02");
        QCOMPARE(b.port.InBufferCount(), 0);
        QCOMPARE(later.texts, QStringList{" 07"});  // nor the replaced one
    }

    void lineThatNeverPauses() {
        Link<FakeSerialPort> b;
        b.port.setOpen(true);
        // Every byte is read off the port as it arrives; 256 bytes close a frame
        // at once, the rest starts the next one.
        for (int i = 0; i < 600; ++i) {
            b.port.inject(QByteArray(1, char(i)));
            QCOMPARE(b.port.InBufferCount(), 0);
        }
        QCOMPARE(b.window.texts.size(), 2);
        QCOMPARE(b.frames.pending(), 600 - 512);
        QVERIFY(b.frames.limitTimer()->isActive());

        // A line that never pauses for the silence: what came since the first byte still
        // closes as a frame 1 s after it.
        QVERIFY(QMetaObject::invokeMethod(b.frames.limitTimer(), "timeout"));
        QCOMPARE(b.window.texts.size(), 3);
        QCOMPARE(b.window.texts.last().size(), (600 - 512) * 3);
        QVERIFY(!b.frames.limitTimer()->isActive() && b.frames.pending() == 0);

        // What waits when the port goes away is still a frame that arrived.
        b.window.texts.clear();
        b.port.inject("\x01\x02");
        b.port.setOpen(false);
        b.frames.endOfFrame();
        QCOMPARE(b.window.texts, QStringList{" 01 02"});
    }

    // The reply's two halves come 5 ms apart: one text. 60 ms apart: two, of 4 and 5 bytes.
    void silenceCutsFrames_data() {
        QTest::addColumn<QString>("pause");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("5 ms") << "5" << QList<int>{9};
        QTest::newRow("60 ms") << "60" << QList<int>{4, 5};
    }
    void silenceCutsFrames() {
        QFETCH(QString, pause);
        QFETCH(QList<int>, sizes);
        SimProcess sim(SimProcess::Serial, {"--split", pause});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Link<SerialPort> link;
        QCOMPARE(link.port.open(), PortError::None);
        QCOMPARE(link.port.Output(measurementRequest(2)), PortError::None);
        QTRY_COMPARE_WITH_TIMEOUT(link.window.texts.size(), sizes.size(), 5000);
        QTRY_VERIFY(!link.frames.timer()->isActive());
        QCOMPARE(link.window.texts.size(), sizes.size());
        QString all;
        for (int i = 0; i < sizes.size(); ++i) {
            // A blank and two digits a byte.
            QCOMPARE(link.window.texts[i].size(), sizes[i] * 3);
            all += link.window.texts[i];
        }
        // The module's whole reply, with a CRC that checks.
        QVERIFY2(checkMeasurementReply(all, 2).ok(), qPrintable(all));
        QVERIFY(sim.log().contains("tty" + receiveText(measurementRequest(2)) + " ->" + all));
    }

    void staleBytesDiscardedAtOpening() {
        SimProcess sim(SimProcess::Serial, {"--late", "300"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Link<SerialPort> link;
        QCOMPARE(link.port.open(), PortError::None);
        // The port closes before module 2 answers; its reply waits in the line.
        QCOMPARE(link.port.Output(measurementRequest(2)), PortError::None);
        QVERIFY(sim.waitForLog("tty 02 04 00 00 00 02"));
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

    void frameOnTheSimulatorsLine() {
        auto sim = std::make_unique<SimProcess>();
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
        auto *port = new SerialPort();
        QSignalSpy lost(port, &SerialPort::portLost);
        AppFixture app(port);
        app.db().exec("update syssetting set mysetting=' 19200 ' where myitems='rs232speed'");
        // Each failure to open at start: one box, and the program goes on.
        // Writing to a port that is not open is the port-not-open condition,
        // never a silent loss.
        auto startFails = [&](const QString &text) {
            app.boxes.clear();
            app.frame()->openSavedPort();
            QCOMPARE(app.boxes.texts(), QStringList{text});
            QCOMPARE(app.boxes.shown.first().title, QStringLiteral("设置错误！"));
            QVERIFY(!port->PortOpen());
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

        // The device goes away: the port closes itself on the first error and
        // says so once, in the status line; no box pops up for it.
        sim->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!port->PortOpen(), 5000);
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        QCOMPARE(lost.size(), 1);
        QVERIFY(app.frame()->statusBar()->currentMessage().startsWith(
            QStringLiteral("串口COM1已断开")));
        QVERIFY(app.boxes.shown.isEmpty());
        startFails(QStringLiteral("COM1不存在，请选择其他串口"));  // a start without the device
        sim.reset();
    }
};

QTEST_MAIN(TestRouting)
#include "tst_routing.moc"
