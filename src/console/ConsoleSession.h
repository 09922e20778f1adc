#pragma once

#include "bus/BusLink.h"
#include "bus/Frames.h"
#include "bus/ReceiveRouter.h"
#include "console/ConsoleReplies.h"
#include "console/ConverterLink.h"

#include <QObject>
#include <QString>

class BusLink;
class QTcpSocket;
class QTimer;

namespace console {

// The console's work without its widgets: single commands on the serial
// port, the automatic serial polling (Timer2) with its counters and the
// decoding of its replies, and the polling through the QX-LAN converter
// (Timer1, over the link and its socket Winsock1).
//
// One session lives with one console window; its counters start at 0 with
// it. What outlives the window (the reply mode and both sets of extremes)
// is in ConsoleState.
class ConsoleSession : public QObject, public ReceiveTarget {
    Q_OBJECT
public:
    static constexpr int kSerialPollMs = 1000;
    static constexpr int kNetworkPollMs = 2000;
    enum class SendOutcome { Sent, PortNotOpen, Failed, HeldOutside };

    ConsoleSession(BusLink *bus, ConsoleState *state, QObject *parent = nullptr);
    ~ConsoleSession() override;

    ConsoleState &state() const { return *state_; }
    QTimer *serialPollTimer() const { return serialPoll_; }
    QTimer *networkPollTimer() const { return networkPoll_; }
    ConverterLink *link() const { return link_; }

    // The text of the module address box, read at each poll.
    void setAddressText(const QString &text) { addressText_ = text; }

    // 发送: the command with its CRC to the serial port; its reply is logged
    // as received. On a closed port whatever held the port lets it go. While
    // another program holds the port nothing is sent, and pollNote says why.
    SendOutcome sendCommand(const QByteArray &command);
    // What the port said when a send failed otherwise.
    QString sendError() const;

    // Automatic serial polling: takes the port without asking (it is the
    // operator's own console); the first poll goes out one period later.
    // While another program holds the port it does not start (false, and
    // pollNote says why), and it stops when one takes hold.
    bool isPolling() const;
    bool startPolling();
    void stopPolling();
    void serialPollTick();

    // The converter: connect, and poll every two seconds while connected.
    void connectConverter(const QString &host, quint16 port);
    void disconnectConverter();
    bool isConverterOn() const;
    void networkPollTick();

    // Successes and failures of the automatic serial polling.
    int successes() const { return successes_; }
    int failures() const { return failures_; }

    // A reply from the serial port (what lands in rcv232).
    void receiveText(const QString &text) override;
    QString receiveBox() const { return receiveBox_; }

Q_SIGNALS:
    void logLine(const QString &line);
    // A reading to show, from the serial line or from the converter; the
    // extremes of that link are in state(). A humidity that is not showable
    // leaves the humidity box and the extremes as they are.
    void measured(const Measurement &m, bool network);
    void countsChanged();
    void pollingChanged(bool polling);
    // What the polling has to say (a bad address, a failed send, a lost
    // port, the port held by another program); empty when all is well.
    void pollNote(const QString &text);
    // A poll met a closed port: the window says "请先打开串口".
    void portNotOpen();
    void converterChanged(bool on, const QString &text);
    void converterNote(const QString &text);
    void receiveBoxChanged(const QString &text);

private:
    SendResult sendAndListen(const QByteArray &frame);
    std::optional<quint8> pollAddress();
    void setReceiveBox(const QString &text);

    BusLink *bus_;
    ConsoleState *state_;
    QTimer *serialPoll_;
    QTimer *networkPoll_;
    QTcpSocket *socket_;
    ConverterLink *link_;
    QString addressText_ = QStringLiteral("1");
    // The address of the last serial poll: the expected sender of a reply
    // while the address box is being edited.
    quint8 polledAddress_ = 1;
    int successes_ = 0;
    int failures_ = 0;
    QString receiveBox_;
};

}  // namespace console
