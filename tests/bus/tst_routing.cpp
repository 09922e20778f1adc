// End of frame and routing of receive texts, on an in-memory port.

#include "support/FakeSerialPort.h"

#include "bus/FrameAssembler.h"
#include "bus/ReceiveRouter.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

namespace {
class Window : public QWidget, public ReceiveTarget {
public:
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
    }
};
}  // namespace

class TestRouting : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void receiveTextOfBytes();
    void lastRegisteredOnly();
    void identicalTextsBothDelivered();
    void nobodyRegisteredDropsData();
    void lateBytesBelongToTheFrame();
    void closedWindowReceivesNothing();
    void portNotOpenOncePerFailure();
};

void TestRouting::receiveTextOfBytes() {
    Bench b;
    Window w;
    b.router.registerTarget(&w, &w);
    b.frame(QByteArray("\x0A\x10\xFF", 3));
    QCOMPARE(w.texts, QStringList{QStringLiteral(" 0A 10 FF")});
    QVERIFY(!b.frames.timer()->isActive());
}

void TestRouting::lastRegisteredOnly() {
    Bench b;
    Window first, second;
    b.router.registerTarget(&first, &first);
    b.router.registerTarget(&second, &second);
    b.frame("\x01");
    QVERIFY(first.texts.isEmpty());
    QCOMPARE(second.texts, QStringList{QStringLiteral(" 01")});
    // Unregistering someone else changes nothing.
    b.router.unregister(&first);
    b.frame("\x02");
    QCOMPARE(second.texts.size(), 2);
}

void TestRouting::identicalTextsBothDelivered() {
    Bench b;
    Window w;
    b.router.registerTarget(&w, &w);
    b.frame("\x01\x04");
    b.frame("\x01\x04");
    QCOMPARE(w.texts, (QStringList{QStringLiteral(" 01 04"), QStringLiteral(" 01 04")}));
}

void TestRouting::nobodyRegisteredDropsData() {
    Bench b;
    QSignalSpy spy(&b.frames, &FrameAssembler::frameDelivered);
    b.frame("\x05\x06");
    QCOMPARE(b.port.InBufferCount(), 0);  // read and dropped
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().at(1).toBool(), false);
    // A window that registers later does not get the old bytes.
    Window w;
    b.router.registerTarget(&w, &w);
    b.frame("\x07");
    QCOMPARE(w.texts, QStringList{QStringLiteral(" 07")});
}

void TestRouting::lateBytesBelongToTheFrame() {
    Bench b;
    Window w;
    b.router.registerTarget(&w, &w);
    b.port.inject("\x01\x04");
    // Arrives just before the timer's handler reads: part of the frame.
    b.port.inject("\x04");
    b.frames.endOfFrame();
    QCOMPARE(w.texts, QStringList{QStringLiteral(" 01 04 04")});
}

void TestRouting::closedWindowReceivesNothing() {
    Bench b;
    auto *w = new Window;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    b.router.registerTarget(w, w);
    QVERIFY(w->close());  // deleted later; forgotten now
    QCOMPARE(b.router.target(), nullptr);
    b.frame("\x01");  // must not reach the closing window
    QCOMPARE(b.port.InBufferCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // A destroyed window is forgotten too.
    auto *gone = new Window;
    b.router.registerTarget(gone, gone);
    delete gone;
    QCOMPARE(b.router.target(), nullptr);
    b.frame("\x02");
}

void TestRouting::portNotOpenOncePerFailure() {
    Bench b;
    QSignalSpy spy(&b.frames, &FrameAssembler::portNotOpen);
    b.port.inject("\x01");
    b.port.setOpen(false);  // the port went away before the frame was cut
    b.frames.endOfFrame();
    QCOMPARE(spy.size(), 1);
    QVERIFY(!b.frames.timer()->isActive());
    b.port.inject("\x02");
    b.frames.endOfFrame();
    QCOMPARE(spy.size(), 1);  // the same failure: told once

    // The port works again, then fails again: told again.
    b.port.setOpen(true);
    b.frame("\x03");
    b.port.inject("\x04");
    b.port.setOpen(false);
    b.frames.endOfFrame();
    QCOMPARE(spy.size(), 2);
}

QTEST_MAIN(TestRouting)
#include "tst_routing.moc"
