#pragma once

#include <QObject>
#include <QTimer>

class SerialPort;
class ReceiveRouter;

// Cuts the byte stream of the port into frames by silence: every arrival
// restarts a 25 ms timer (Timer1 of the main window); when it runs out,
// everything waiting is one frame. The frame goes, as receive text, to the
// window registered in the router.
class FrameAssembler : public QObject {
    Q_OBJECT
public:
    static constexpr int kSilenceMs = 25;

    FrameAssembler(SerialPort *port, ReceiveRouter *router, QObject *parent = nullptr);

    QTimer *timer() { return &timer_; }

    // The receive notification of the port.
    void onComm(int event);
    // The timer ran out: build and deliver the frame.
    void endOfFrame();

Q_SIGNALS:
    // The port was found closed when a frame was due. Raised once per
    // failure: not again until the port has been seen receiving again.
    void portNotOpen();
    // A frame went out to a window (or was dropped when none was registered).
    void frameDelivered(const QString &text, bool delivered);

private:
    SerialPort *port_;
    ReceiveRouter *router_;
    QTimer timer_;
    bool notOpenReported_ = false;
};
