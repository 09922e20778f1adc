// End of frame and routing of receive texts, on an in-memory port.

#include "support/FakeSerialPort.h"

#include "bus/FrameAssembler.h"
#include "bus/ReceiveRouter.h"

#include <QElapsedTimer>
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
    void lineThatNeverPauses();
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

void TestRouting::lineThatNeverPauses() {
    Bench b;
    Window w;
    b.router.registerTarget(&w, &w);
    // Every byte is read off the port as it arrives; 256 bytes close a frame
    // at once, the rest starts the next one.
    QByteArray sent;
    for (int i = 0; i < 600; ++i) {
        const char byte = char(i);
        sent += byte;
        b.port.inject(QByteArray(1, byte));
        QCOMPARE(b.port.InBufferCount(), 0);
    }
    QCOMPARE(w.texts.size(), 2);
    QCOMPARE(b.frames.pending(), 600 - 512);
    QVERIFY(b.frames.limitTimer()->isActive());

    // A byte every 2 ms and never a pause of 25 ms: the frame still closes
    // 1 s after its first byte.
    b.frames.endOfFrame();
    w.texts.clear();
    QTimer line;
    line.setInterval(2);
    QObject::connect(&line, &QTimer::timeout, [&] { b.port.inject("\x55"); });
    QElapsedTimer clock;
    clock.start();
    line.start();
    QTRY_VERIFY_WITH_TIMEOUT(!w.texts.isEmpty(), 3000);
    line.stop();
    QVERIFY(clock.elapsed() >= FrameAssembler::kMaxFrameMs);
    QVERIFY(w.texts.first().size() <= 3 * FrameAssembler::kMaxFrameBytes);
    QCOMPARE(b.port.InBufferCount(), 0);

    // What waits when the port goes away is still a frame that arrived.
    b.frames.endOfFrame();
    w.texts.clear();
    b.port.inject("\x01\x02");
    b.port.setOpen(false);
    b.frames.endOfFrame();
    QCOMPARE(w.texts, QStringList{QStringLiteral(" 01 02")});
}

QTEST_MAIN(TestRouting)
#include "tst_routing.moc"
