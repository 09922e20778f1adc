#include "support/FakeSerialPort.h"

PortError FakeSerialPort::open() {
    if (open_)
        return PortError::PortInUse;
    if (openResult != PortError::None)
        return openResult;
    open_ = true;
    return PortError::None;
}

QByteArray FakeSerialPort::Input() {
    QByteArray out;
    out.swap(buffer_);
    return out;
}

PortError FakeSerialPort::Output(const QByteArray &bytes) {
    if (!open_)
        return PortError::PortNotOpen;
    written << bytes;
    if (onWrite)
        onWrite(bytes);
    return PortError::None;
}

void FakeSerialPort::inject(const QByteArray &bytes) {
    buffer_ += bytes;
    Q_EMIT OnComm(kEvReceive);
}

PortError FakeSerialPort::setSettings(const QString &settings) {
    if (open_ && settingsResult != PortError::None && validSettings(settings))
        return settingsResult;
    return SerialPort::setSettings(settings);
}
