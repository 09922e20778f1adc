// End of frame and routing of receive texts, on an in-memory port.

#include "support/FakeSerialPort.h"

#include "bus/FrameAssembler.h"
#include "bus/ReceiveRouter.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

namespace {
struct Window : QWidget, ReceiveTarget {
    void receiveText(const QString &text) override { texts << text; }
    QStringList texts;
};

struct Bench {
    FakeSerialPort port;
    ReceiveRouter router;
    FrameAssembler frames{&port, &router};
    Bench() { port.setOpen(true); }
    // Bytes arrive; the line then stays quiet.
    void frame(const QByteArray &bytes) {
        port.inject(bytes);
        QVERIFY(frames.timer()->isActive());
        frames.endOfFrame();
        QVERIFY(!frames.timer()->isActive());
    }
};
}  // namespace

class TestRouting : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deliveryToTheLastRegistered();
    void nobodyRegisteredDropsData();
    void portNotOpenOncePerFailure();
};

void TestRouting::deliveryToTheLastRegistered() {
    Bench b;
    Window first, second;
    b.router.registerTarget(&first, &first);
    b.router.registerTarget(&second, &second);
    b.frame(QByteArray("\x0A\x10\xFF", 3));
    // The same text again is a new reply: delivered too.
    b.frame(QByteArray("\x0A\x10\xFF", 3));
    // Bytes that arrive just before the timer's handler reads are part of the frame.
    b.port.inject("\x01\x04");
    b.frame("\x04");
    // Unregistering someone else changes nothing.
    b.router.unregister(&first);
    b.frame("\x02");
    QVERIFY(first.texts.isEmpty());
    QCOMPARE(second.texts, (QStringList{QStringLiteral(" 0A 10 FF"), QStringLiteral(" 0A 10 FF"),
                                        QStringLiteral(" 01 04 04"), QStringLiteral(" 02")}));
}

void TestRouting::nobodyRegisteredDropsData() {
    Bench b;
    QSignalSpy spy(&b.frames, &FrameAssembler::frameDelivered);
    auto *w = new Window;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    b.router.registerTarget(w, w);
    QVERIFY(w->close());  // deleted later; forgotten now
    QCOMPARE(b.router.target(), nullptr);
    b.frame("\x05\x06");                  // must not reach the closing window
    QCOMPARE(b.port.InBufferCount(), 0);  // read and dropped
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().at(1).toBool(), false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // A window that registers later does not get the old bytes.
    Window later;
    b.router.registerTarget(&later, &later);
    b.frame("\x07");

    // A destroyed window is forgotten too.
    auto *gone = new Window;
    b.router.registerTarget(gone, gone);
    delete gone;
    QCOMPARE(b.router.target(), nullptr);
    b.frame("\x02");
    QCOMPARE(b.port.InBufferCount(), 0);
    QCOMPARE(later.texts, QStringList{QStringLiteral(" 07")});  // nor the replaced one
}

void TestRouting::portNotOpenOncePerFailure() {
    Bench b;
    QSignalSpy spy(&b.frames, &FrameAssembler::portNotOpen);
    // Bytes arrive, then the port goes away before the frame is cut.
    auto cutOnClosedPort = [&](const char *bytes) {
        b.port.inject(bytes);
        b.port.setOpen(false);
        b.frames.endOfFrame();
        return spy.size();
    };
    QCOMPARE(cutOnClosedPort("\x01"), 1);
    QVERIFY(!b.frames.timer()->isActive());
    QCOMPARE(cutOnClosedPort("\x02"), 1);  // the same failure: told once
    // The port works again, then fails again: told again.
    b.port.setOpen(true);
    b.frame("\x03");
    QCOMPARE(cutOnClosedPort("\x04"), 2);
}

QTEST_MAIN(TestRouting)
#include "tst_routing.moc"
