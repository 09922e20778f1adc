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
    // dialog): a recovery under way ends.
    PortError openPort();
    // Opens the port, or, when it cannot be opened now, keeps trying every
    // kReopenIntervalMs as for a lost port (a program that runs unattended
    // waits for its adapter).
    PortError openOrKeepTrying();
    void closePort();

    // The job that holds the port, if any.
    BusJob holder() const { return holder_; }
    bool isBusy() const { return holder_ != BusJob::None; }
    // Takes the port for `job` when no job holds it.
    bool take(BusJob job);
    // Takes the port whatever holds it (the console's polling does).
    void seize(BusJob job);
    // Frees the port when `job` holds it.
    void release(BusJob job);
    // Frees the port whoever holds it.
    void releaseAny();

    // Writes one whole frame.
    SendResult send(const QByteArray &frame);
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
};
