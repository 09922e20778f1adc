#pragma once

#include "bus/SerialPort.h"

#include <QObject>
#include <QString>

#include <memory>

class FrameAssembler;
class QTimer;
class ReceiveRouter;
class ReceiveTarget;

// The cyclic jobs that hold the serial port while they run (rs232busy).
enum class BusJob { None, Acquisition, Search, ConsolePolling };

// How a frame went to the port.
enum class SendResult {
    Sent,
    PortNotOpen,  // no port is open (the operator has not opened one)
    PortLost,     // the device went away; the link is reopening it
    Failed,       // the port refused the write
    HeldOutside,  // another program (a logger) holds the port; nothing was sent
};

// The one owner of the serial port and of everything that shares it: the
// end-of-frame cutting, the routing of replies to the receiving window
// (rs232target), the job that holds the port (rs232busy), the one send path,
// and the recovery of a port whose device went away.
//
// A port that is lost while open (an adapter unplugged, the simulator
// ended) is reopened every kReopenIntervalMs, the same number with the same
// settings, until it is back or the operator opens or closes a port himself.
// The state is said once in the status text.
//
// A program outside this one may hold the port for the same data folder (a
// logger acquiring): while it does, the port stays closed here, no job may
// take it, nothing is sent, and whoever tries is told why (outsideText()).
class BusLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kReopenIntervalMs = 2000;
    enum class PortState { Closed, Open, Reopening };

    // Takes `port` (the machine's port, or an in-memory one in tests).
    explicit BusLink(SerialPort *port, QObject *parent = nullptr);
    ~BusLink() override;

    SerialPort *port() const { return port_; }
    FrameAssembler *frames() const { return frames_; }
    ReceiveRouter &router() const { return *router_; }
    QTimer *reopenTimer() const { return reopenTimer_; }

    PortState portState() const;
    bool isReopening() const { return reopening_; }
    QString statusText() const { return status_; }

    // The operator opens or closes the port (at start, in the settings
    // dialog): a recovery under way ends. While the port is held outside
    // nothing is opened (PortInUse).
    PortError openPort();
    // Opens the port, or, when it cannot be opened now, keeps trying every
    // kReopenIntervalMs as for a lost port (a program that runs unattended
    // waits for its adapter).
    PortError openOrKeepTrying();
    void closePort();

    // The job that holds the port, if any.
    BusJob holder() const { return holder_; }
    bool isBusy() const { return holder_ != BusJob::None; }
    // Takes the port for `job` when no job holds it and it is not held
    // outside.
    bool take(BusJob job);
    // Takes the port whatever job holds it (the console's polling does);
    // false only while it is held outside.
    bool seize(BusJob job);
    // Frees the port when `job` holds it.
    void release(BusJob job);
    // Frees the port whoever holds it.
    void releaseAny();

    // Writes one whole frame.
    SendResult send(const QByteArray &frame);

    // Another program holds the port from now on, for the reason said in
    // `text` ("qx7logger（进程N）正在采集，串口由它使用"); an empty text: no
    // longer. Taking hold closes the port and ends a recovery under way;
    // the jobs stop themselves on heldOutsideChanged(). Nothing is reopened
    // when the hold ends: the program decides that.
    void setHeldOutside(const QString &text);
    bool isHeldOutside() const { return !outside_.isEmpty(); }
    QString outsideText() const { return outside_; }
    // The one way to receive: `target` (alive as long as `owner`) receives
    // every reply from now on, until another one registers (rs232target).
    void listen(QObject *owner, ReceiveTarget *target);

    // One attempt of the recovery (the reopen timer's tick).
    void reopenTick();

Q_SIGNALS:
    void holderChanged(BusJob holder);
    // The device went away: jobs stop, the link starts reopening it.
    void portLost(const QString &reason);
    // The lost port is open again.
    void portReopened();
    // A new text for the frame's status line.
    void statusChanged(const QString &text);
    // Another program took hold of the port, or let it go.
    void heldOutsideChanged(bool held);

private:
    void onPortLost(const QString &reason);
    void setHolder(BusJob job);
    void setStatus(const QString &text);
    void stopReopening();

    SerialPort *port_;
    std::unique_ptr<ReceiveRouter> router_;
    FrameAssembler *frames_;
    QTimer *reopenTimer_;
    BusJob holder_ = BusJob::None;
    bool reopening_ = false;
    QString status_;
    QString outside_;
};
