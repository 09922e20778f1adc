#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSerialPort;

// The conditions the program tells apart when it uses the port.
enum class PortError {
    None,
    NoSuchPort,   // the device does not exist
    PortInUse,    // another program (or another handle) holds it
    PortNotOpen,  // a write or read on a closed port
    BadSettings,  // a settings text the port does not accept
    Other,
};

// The serial port of the main window (MSComm1). The program speaks of ports 1
// to 9; deviceNameFor() says which device a number means on this machine.
// Input is raw bytes and every arrival raises OnComm(kEvReceive).
//
// The operations are virtual so that unit tests can put an in-memory port in
// its place; the program itself uses this class over QSerialPort.
class SerialPort : public QObject {
    Q_OBJECT
public:
    static constexpr int kEvReceive = 2;

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    // Port n is COMn on Windows. Elsewhere it is the device named by the
    // environment variable QX7_COMn when that is set, else /dev/ttyUSB{n-1}.
    static QString deviceNameFor(int commPort);

    int CommPort() const { return commPort_; }
    // Takes effect at the next opening; ignored while the port is open.
    void setCommPort(int commPort);
    QString deviceName() const { return deviceNameFor(commPort_); }

    // "9600,n,8,1": speed, parity (n, e, o, m, s), data bits, stop bits.
    QString Settings() const { return settings_; }
    // Applies at once to an open port. BadSettings leaves the old settings.
    virtual PortError setSettings(const QString &settings);
    // True when the text is a settings text this port could take.
    static bool validSettings(const QString &settings);
    // True when the text (blanks around it aside) is a line speed the port
    // could take: a positive whole number of bit/s, digits only.
    static bool validSpeed(const QString &speed);
    // The settings text of a speed: "9600" -> "9600,n,8,1".
    static QString settingsFor(const QString &speed);

    virtual bool PortOpen() const;
    virtual PortError open();
    virtual void close();

    virtual qint64 InBufferCount() const;
    // Everything waiting, removed from the buffer.
    virtual QByteArray Input();
    // Writes the whole frame; PortNotOpen on a closed port.
    virtual PortError Output(const QByteArray &bytes);

    // What the last failing operation said, for messages.
    QString errorString() const { return errorString_; }

Q_SIGNALS:
    void OnComm(int event);
    // The device went away while open (adapter unplugged, simulator ended).
    // The port has been closed; senders now meet PortNotOpen.
    void portLost(const QString &reason);

protected:
    QString errorString_;

private:
    void handleError();
    PortError applySettings();

    QSerialPort *port_ = nullptr;
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
};
