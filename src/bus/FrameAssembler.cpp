#include "bus/FrameAssembler.h"

#include "bus/HexText.h"
#include "bus/ReceiveRouter.h"
#include "bus/SerialPort.h"

FrameAssembler::FrameAssembler(SerialPort *port, ReceiveRouter *router, QObject *parent)
    : QObject(parent),
      port_(port),
      router_(router),
      silence_(new QTimer(this)),
      limit_(new QTimer(this)) {
    silence_->setObjectName(QStringLiteral("Timer1"));
    silence_->setSingleShot(true);
    silence_->setTimerType(Qt::PreciseTimer);
    silence_->setInterval(kSilenceMs);
    connect(silence_, &QTimer::timeout, this, &FrameAssembler::endOfFrame);
    limit_->setObjectName(QStringLiteral("frameLimit"));
    limit_->setSingleShot(true);
    limit_->setTimerType(Qt::PreciseTimer);
    limit_->setInterval(kMaxFrameMs);
    connect(limit_, &QTimer::timeout, this, &FrameAssembler::endOfFrame);
    connect(port_, &SerialPort::OnComm, this, &FrameAssembler::onComm);
}

void FrameAssembler::onComm(int event) {
    if (event != SerialPort::kEvReceive)
        return;
    // Read at once: bytes left in the port would pile up there for as long
    // as the line never pauses.
    const QByteArray bytes = port_->Input();
    if (bytes.isEmpty())
        return;
    if (frame_.isEmpty())
        limit_->start();
    frame_ += bytes;
    while (frame_.size() >= kMaxFrameBytes) {
        const QByteArray full = frame_.left(kMaxFrameBytes);
        frame_.remove(0, kMaxFrameBytes);
        deliver(full);
        if (!frame_.isEmpty())
            limit_->start();  // the rest begins the next frame
    }
    if (frame_.isEmpty()) {
        silence_->stop();
        limit_->stop();
    } else {
        silence_->start();
    }
}

void FrameAssembler::endOfFrame() {
    silence_->stop();
    limit_->stop();
    QByteArray bytes;
    bytes.swap(frame_);
    if (!bytes.isEmpty())
        deliver(bytes);
}

void FrameAssembler::deliver(const QByteArray &bytes) {
    const QString text = receiveText(bytes);
    const bool delivered = router_->deliver(text);
    Q_EMIT frameDelivered(text, delivered);
}
