#pragma once

#include "bus/SerialPort.h"

#include <QByteArrayList>

#include <functional>
#include <utility>

// A serial port in memory: records what is written and lets a test put
// bytes into the receive buffer.
class FakeSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit FakeSerialPort(QObject *parent = nullptr) : SerialPort(parent) {}

    bool PortOpen() const override { return open_; }
    PortError open() override {
        if (open_)
            return PortError::PortInUse;
        if (openResult == PortError::None)
            open_ = true;
        return openResult;
    }
    void close() override { open_ = false; }
    qint64 InBufferCount() const override { return buffer_.size(); }
    QByteArray Input() override { return std::exchange(buffer_, {}); }
    PortError Output(const QByteArray &bytes) override {
        if (!open_)
            return PortError::PortNotOpen;
        written << bytes;
        if (onWrite)
            onWrite(bytes);
        return PortError::None;
    }
    PortError setSettings(const QString &settings) override {
        if (open_ && settingsResult != PortError::None && validSettings(settings))
            return settingsResult;
        return SerialPort::setSettings(settings);
    }

    // What the next open() answers.
    PortError openResult = PortError::None;
    // What setSettings() answers for a valid text on an open port (a line
    // that refuses a speed); None takes the settings.
    PortError settingsResult = PortError::None;
    // Every frame written, in order.
    QByteArrayList written;
    // Called after each write (a test can answer like a module).
    std::function<void(const QByteArray &)> onWrite;

    // Bytes arrive from the line: buffered and announced.
    void inject(const QByteArray &bytes) {
        buffer_ += bytes;
        Q_EMIT OnComm(kEvReceive);
    }
    void setOpen(bool open) { open_ = open; }
    // The device goes away while open (an adapter pulled out): the port
    // closes and says so, as the real one does.
    void unplug() {
        open_ = false;
        Q_EMIT portLost(QStringLiteral("device removed"));
    }

private:
    bool open_ = false;
    QByteArray buffer_;
};
