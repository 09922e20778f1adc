#include "bus/FrameAssembler.h"

#include "bus/HexText.h"
#include "bus/ReceiveRouter.h"
#include "bus/SerialPort.h"

FrameAssembler::FrameAssembler(SerialPort *port, ReceiveRouter *router, QObject *parent)
    : QObject(parent), port_(port), router_(router) {
    timer_.setObjectName(QStringLiteral("Timer1"));
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kSilenceMs);
    connect(&timer_, &QTimer::timeout, this, &FrameAssembler::endOfFrame);
    connect(port_, &SerialPort::OnComm, this, &FrameAssembler::onComm);
}

void FrameAssembler::onComm(int event) {
    if (event != SerialPort::kEvReceive)
        return;
    if (port_->PortOpen())
        notOpenReported_ = false;
    timer_.start();
}

void FrameAssembler::endOfFrame() {
    timer_.stop();
    if (!port_->PortOpen()) {
        if (!notOpenReported_) {
            notOpenReported_ = true;
            Q_EMIT portNotOpen();
        }
        return;
    }
    // Everything waiting belongs to the frame, also bytes that arrived a
    // moment ago.
    const QByteArray bytes = port_->Input();
    if (bytes.isEmpty())
        return;
    const QString text = receiveText(bytes);
    const bool delivered = router_->deliver(text);
    Q_EMIT frameDelivered(text, delivered);
}
