#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class SerialPort;
class ReceiveRouter;

// Cuts the byte stream of the port into frames. Every arrival is read off
// the port at once and restarts a 25 ms timer (Timer1 of the main window);
// when the line has been quiet that long, what arrived is one frame. A line
// that never pauses still gives frames: one closes at 256 bytes, the longest
// RTU frame, or 1 s after its first byte, whichever comes first. Each frame
// goes, as receive text, to the window registered in the router.
class FrameAssembler : public QObject {
    Q_OBJECT
public:
    static constexpr int kSilenceMs = 25;
    static constexpr int kMaxFrameBytes = 256;
    static constexpr int kMaxFrameMs = 1000;

    FrameAssembler(SerialPort *port, ReceiveRouter *router, QObject *parent = nullptr);

    // The end-of-frame (silence) timer, and the one that closes a frame 1 s
    // after its first byte.
    QTimer *timer() { return silence_; }
    QTimer *limitTimer() { return limit_; }
    // Bytes of the frame being collected.
    qsizetype pending() const { return frame_.size(); }

    // The receive notification of the port.
    void onComm(int event);
    // The line was quiet, or the frame is 1 s old: deliver what arrived.
    void endOfFrame();

Q_SIGNALS:
    // A frame went out to a window (or was dropped when none was registered).
    void frameDelivered(const QString &text, bool delivered);

private:
    void deliver(const QByteArray &bytes);

    SerialPort *port_;
    ReceiveRouter *router_;
    QTimer *silence_;
    QTimer *limit_;
    QByteArray frame_;
};
