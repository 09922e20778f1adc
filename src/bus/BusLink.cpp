#include "bus/BusLink.h"

#include "bus/FrameAssembler.h"
#include "bus/ReceiveRouter.h"

#include <QTimer>

BusLink::BusLink(SerialPort *port, QObject *parent)
    : QObject(parent),
      port_(port),
      router_(std::make_unique<ReceiveRouter>()),
      frames_(nullptr),
      reopenTimer_(new QTimer(this)) {
    setObjectName(QStringLiteral("bus"));
    port_->setParent(this);
    port_->setObjectName(QStringLiteral("MSComm1"));
    frames_ = new FrameAssembler(port_, router_.get(), this);
    reopenTimer_->setObjectName(QStringLiteral("reopenTimer"));
    reopenTimer_->setInterval(kReopenIntervalMs);
    connect(reopenTimer_, &QTimer::timeout, this, &BusLink::reopenTick);
    connect(port_, &SerialPort::portLost, this, &BusLink::onPortLost);
}

BusLink::~BusLink() = default;

BusLink::PortState BusLink::portState() const {
    if (port_->PortOpen())
        return PortState::Open;
    return reopening_ ? PortState::Reopening : PortState::Closed;
}

PortError BusLink::openPort() {
    stopReopening();
    if (isHeldOutside())
        return PortError::PortInUse;
    return port_->open();
}

PortError BusLink::openOrKeepTrying() {
    const PortError e = openPort();
    if (e != PortError::None && e != PortError::BadSettings && !isHeldOutside()) {
        reopening_ = true;
        reopenTimer_->start();
        setStatus(QStringLiteral("串口COM%1无法打开（%2），每2秒重试…")
                      .arg(port_->CommPort())
                      .arg(port_->errorString()));
    }
    return e;
}

void BusLink::closePort() {
    stopReopening();
    port_->close();
}

bool BusLink::take(BusJob job) {
    if (holder_ != BusJob::None || isHeldOutside())
        return false;
    setHolder(job);
    return true;
}

bool BusLink::seize(BusJob job) {
    if (isHeldOutside())
        return false;
    setHolder(job);
    return true;
}

void BusLink::release(BusJob job) {
    if (holder_ == job)
        setHolder(BusJob::None);
}

void BusLink::releaseAny() {
    setHolder(BusJob::None);
}

void BusLink::setHolder(BusJob job) {
    if (holder_ == job)
        return;
    holder_ = job;
    Q_EMIT holderChanged(job);
}

SendResult BusLink::send(const QByteArray &frame) {
    if (isHeldOutside())
        return SendResult::HeldOutside;
    switch (port_->Output(frame)) {
        case PortError::None:
            break;
        case PortError::PortNotOpen:
            return reopening_ ? SendResult::PortLost : SendResult::PortNotOpen;
        default:
            return SendResult::Failed;
    }
    return SendResult::Sent;
}

void BusLink::listen(QObject *window, ReceiveTarget *target) {
    router_->registerTarget(window, target);
}

void BusLink::onPortLost(const QString &reason) {
    reopening_ = true;
    reopenTimer_->start();
    setStatus(QStringLiteral("串口COM%1已断开，正在重新打开…").arg(port_->CommPort()));
    Q_EMIT portLost(reason);
}

void BusLink::setHeldOutside(const QString &text) {
    const bool was = isHeldOutside();
    outside_ = text;
    if (was == isHeldOutside())
        return;
    if (isHeldOutside()) {
        // The other program needs the device: this one lets it go at once.
        stopReopening();
        port_->close();
    }
    Q_EMIT heldOutsideChanged(isHeldOutside());
}

void BusLink::reopenTick() {
    if (!reopening_)
        return;
    if (port_->PortOpen() || port_->open() == PortError::None) {
        stopReopening();
        setStatus(QStringLiteral("串口COM%1已重新打开").arg(port_->CommPort()));
        Q_EMIT portReopened();
    }
}

void BusLink::stopReopening() {
    reopening_ = false;
    reopenTimer_->stop();
}

void BusLink::setStatus(const QString &text) {
    status_ = text;
    Q_EMIT statusChanged(text);
}
