#include "console/ConsoleSession.h"

#include "bus/BusLink.h"
#include "console/ConsoleCommands.h"

#include <QTcpSocket>
#include <QTime>
#include <QTimer>

namespace console {

namespace {
QString stamped(const QString &text) {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text;
}
}  // namespace

ConsoleSession::ConsoleSession(BusLink *bus, ConsoleState *state, QObject *parent)
    : QObject(parent),
      bus_(bus),
      state_(state),
      serialPoll_(new QTimer(this)),
      networkPoll_(new QTimer(this)),
      socket_(new QTcpSocket(this)),
      link_(new ConverterLink(socket_, this)) {
    setObjectName(QStringLiteral("consoleSession"));
    serialPoll_->setObjectName(QStringLiteral("Timer2"));
    serialPoll_->setInterval(kSerialPollMs);
    connect(serialPoll_, &QTimer::timeout, this, &ConsoleSession::serialPollTick);
    networkPoll_->setObjectName(QStringLiteral("Timer1"));
    networkPoll_->setInterval(kNetworkPollMs);
    connect(networkPoll_, &QTimer::timeout, this, &ConsoleSession::networkPollTick);
    socket_->setObjectName(QStringLiteral("Winsock1"));

    connect(link_, &ConverterLink::stateChanged, this,
            [this](ConverterLink::State linkState, const QString &text) {
                if (linkState == ConverterLink::State::Closed)
                    networkPoll_->stop();
                Q_EMIT converterChanged(linkState != ConverterLink::State::Closed, text);
            });
    connect(link_, &ConverterLink::measured, this, [this](const Measurement &m) {
        if (m.humidityShowable())
            state_->network.add(m);
        Q_EMIT measured(m, true);
    });
    connect(link_, &ConverterLink::rejected, this,
            [this](const QString &message) { Q_EMIT converterNote(stamped(message)); });

    // The console is operated by a person: a lost port switches its
    // automatic polling off for good.
    connect(bus_, &BusLink::portLost, this, [this] {
        if (!isPolling())
            return;
        stopPolling();
        Q_EMIT pollNote(stamped(QStringLiteral("串口已断开，自动采集已关闭")));
    });
    connect(bus_, &BusLink::heldOutsideChanged, this, [this](bool held) {
        if (!held || !isPolling())
            return;
        stopPolling();
        Q_EMIT pollNote(stamped(bus_->outsideText() + QStringLiteral("，自动采集已关闭")));
    });
}

ConsoleSession::~ConsoleSession() {
    // The polling goes with the session; when it still held the port, the
    // port is free again.
    if (isPolling())
        bus_->release(BusJob::ConsolePolling);
    serialPoll_->stop();
    networkPoll_->stop();
    link_->detach();
    bus_->router().unregister(this);
}

// ---- commands ----

SendResult ConsoleSession::sendAndListen(const QByteArray &frame) {
    // Replies come to the console once its frame has gone out.
    const SendResult result = bus_->send(frame);
    if (result == SendResult::Sent)
        bus_->listen(this, this);
    return result;
}

ConsoleSession::SendOutcome ConsoleSession::sendCommand(const QByteArray &command) {
    switch (sendAndListen(assembleFrame(command))) {
        case SendResult::Sent:
            state_->rcvmode = ReplyMode::Command;
            return SendOutcome::Sent;
        case SendResult::PortNotOpen:
        case SendResult::PortLost:
            bus_->releaseAny();
            return SendOutcome::PortNotOpen;
        case SendResult::HeldOutside:
            Q_EMIT pollNote(stamped(bus_->outsideText() + QStringLiteral("，命令未发送")));
            return SendOutcome::HeldOutside;
        case SendResult::Failed:
            break;
    }
    return SendOutcome::Failed;
}

QString ConsoleSession::sendError() const {
    return bus_->port()->errorString();
}

// ---- the serial polling ----

bool ConsoleSession::isPolling() const {
    return serialPoll_->isActive();
}

bool ConsoleSession::startPolling() {
    if (isPolling())
        return true;
    if (!bus_->seize(BusJob::ConsolePolling)) {
        Q_EMIT pollNote(stamped(bus_->outsideText() + QStringLiteral("，自动采集未开启")));
        return false;
    }
    serialPoll_->start();
    Q_EMIT pollingChanged(true);
    return true;
}

void ConsoleSession::stopPolling() {
    serialPoll_->stop();
    bus_->releaseAny();
    Q_EMIT pollingChanged(false);
}

std::optional<quint8> ConsoleSession::pollAddress() {
    const auto address = moduleAddress(addressText_);
    Q_EMIT pollNote(address ? QString() : badAddressText());
    return address;
}

void ConsoleSession::serialPollTick() {
    const auto address = pollAddress();
    if (!address)
        return;  // said in the window; the polling goes on
    switch (sendAndListen(measurementRequest(*address))) {
        case SendResult::Sent:
            break;
        case SendResult::PortNotOpen:
        case SendResult::PortLost:
            // Off first: the box waits for the operator, the timer must not go on meanwhile.
            stopPolling();
            Q_EMIT portNotOpen();
            return;
        case SendResult::HeldOutside:  // the polling has been stopped already
            return;
        case SendResult::Failed:
            Q_EMIT pollNote(stamped(QStringLiteral("发送失败：") + sendError()));
            return;
    }
    polledAddress_ = *address;
    state_->rcvmode = ReplyMode::Poll;
}

void ConsoleSession::receiveText(const QString &text) {
    setReceiveBox(text);
    // The module polled: the address box, unless it is being edited into
    // something that is no address.
    const int expected = moduleAddress(addressText_).value_or(polledAddress_);
    const SerialReplyOutcome outcome =
        decideSerialReply(text, state_->rcvmode, isPolling(), expected);
    if (!outcome.logLine.isEmpty())
        Q_EMIT logLine(outcome.logLine);
    if (outcome.measurement) {
        if (outcome.measurement->humidityShowable())
            state_->serial.add(*outcome.measurement);
        Q_EMIT measured(*outcome.measurement, false);
    }
    if (outcome.count == SerialReplyOutcome::Count::Success)
        ++successes_;
    else if (outcome.count == SerialReplyOutcome::Count::Failure)
        ++failures_;
    if (outcome.count != SerialReplyOutcome::Count::None)
        Q_EMIT countsChanged();
    if (!outcome.keepText)
        setReceiveBox(QString());
}

void ConsoleSession::setReceiveBox(const QString &text) {
    if (receiveBox_ == text)
        return;
    receiveBox_ = text;
    Q_EMIT receiveBoxChanged(text);
}

// ---- the converter ----

void ConsoleSession::connectConverter(const QString &host, quint16 port) {
    // Polling first: a connection that fails at once stops it again.
    networkPoll_->start();
    link_->open(host, port);
}

void ConsoleSession::disconnectConverter() {
    link_->close();
    networkPoll_->stop();
}

bool ConsoleSession::isConverterOn() const {
    return link_->state() != ConverterLink::State::Closed;
}

void ConsoleSession::networkPollTick() {
    const auto address = pollAddress();
    if (!address)
        return;
    // While the connection is still being made the tick is skipped; a
    // failure has already been reported and stopped this timer.
    link_->poll(*address);
}

}  // namespace console
