#include "bus/SerialPort.h"

#include <QSerialPort>
#include <QStringList>

namespace {
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

bool parseSettings(const QString &text, LineSettings *out) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const qint64 baud = parts[0].trimmed().toLongLong(&ok);
    if (!ok || baud <= 0 || baud > 4000000)
        return false;
    LineSettings s;
    s.baud = qint32(baud);
    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        return false;
    const int data = parts[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return false;
    s.dataBits = QSerialPort::DataBits(data);
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return false;
    if (out)
        *out = s;
    return true;
}
}  // namespace

SerialPort::SerialPort(QObject *parent) : QObject(parent) {
    setObjectName(QStringLiteral("MSComm1"));
}

SerialPort::~SerialPort() = default;

QString SerialPort::deviceNameFor(int commPort) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(commPort);
#else
    const QByteArray fromEnv =
        qgetenv(QStringLiteral("QX7_COM%1").arg(commPort).toLatin1().constData());
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    return QStringLiteral("/dev/ttyUSB%1").arg(commPort - 1);
#endif
}

void SerialPort::setCommPort(int commPort) {
    if (!PortOpen())
        commPort_ = commPort;
}

bool SerialPort::validSettings(const QString &settings) {
    return parseSettings(settings, nullptr);
}

bool SerialPort::validSpeed(const QString &speed) {
    const QString t = speed.trimmed();
    if (t.isEmpty() || t.size() > 9)
        return false;
    for (QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return validSettings(settingsFor(t));
}

QString SerialPort::settingsFor(const QString &speed) {
    return speed.trimmed() + QStringLiteral(",n,8,1");
}

PortError SerialPort::setSettings(const QString &settings) {
    LineSettings s;
    if (!parseSettings(settings, &s)) {
        errorString_ = QStringLiteral("invalid settings \"%1\"").arg(settings);
        return PortError::BadSettings;
    }
    const QString previous = settings_;
    settings_ = settings;
    if (port_ && port_->isOpen()) {
        const PortError e = applySettings();
        if (e != PortError::None) {
            settings_ = previous;
            applySettings();
            return e;
        }
    }
    return PortError::None;
}

PortError SerialPort::applySettings() {
    LineSettings s;
    parseSettings(settings_, &s);
    if (!port_->setBaudRate(s.baud) || !port_->setParity(s.parity) ||
        !port_->setDataBits(s.dataBits) || !port_->setStopBits(s.stopBits)) {
        errorString_ = port_->errorString();
        port_->clearError();
        return PortError::BadSettings;
    }
    return PortError::None;
}

bool SerialPort::PortOpen() const {
    return port_ && port_->isOpen();
}

PortError SerialPort::open() {
    if (PortOpen()) {
        errorString_ = QStringLiteral("port already open");
        return PortError::PortInUse;
    }
    // A port that failed before goes (it is a child: nothing else holds it).
    if (port_)
        port_->deleteLater();
    port_ = new QSerialPort(this);
    port_->setPortName(deviceName());
    connect(port_, &QSerialPort::readyRead, this, [this] { Q_EMIT OnComm(kEvReceive); });
    connect(port_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError) { handleError(); });
    if (!port_->open(QIODevice::ReadWrite)) {
        errorString_ = port_->errorString();
        const QSerialPort::SerialPortError e = port_->error();
        port_->deleteLater();
        port_ = nullptr;
        if (e == QSerialPort::DeviceNotFoundError)
            return PortError::NoSuchPort;
        if (e == QSerialPort::PermissionError || e == QSerialPort::OpenError)
            return PortError::PortInUse;
        return PortError::Other;
    }
    // Bytes that were waiting before the port was opened (a late reply to
    // a request of an earlier opening) belong to no request of ours.
    port_->clear(QSerialPort::Input);
    const PortError e = applySettings();
    if (e != PortError::None) {
        // Keep the port open with whatever it had; the caller reports the settings.
        return e;
    }
    return PortError::None;
}

void SerialPort::close() {
    if (port_) {
        port_->disconnect(this);
        port_->close();
        port_->deleteLater();
        port_ = nullptr;
    }
}

void SerialPort::handleError() {
    if (!port_)
        return;
    const QSerialPort::SerialPortError e = port_->error();
    if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError) {
        // The device is gone; the port would go on reporting this for ever.
        const QString reason = port_->errorString();
        close();
        Q_EMIT portLost(reason);
    }
}

qint64 SerialPort::InBufferCount() const {
    return port_ ? port_->bytesAvailable() : 0;
}

QByteArray SerialPort::Input() {
    return port_ ? port_->readAll() : QByteArray();
}

PortError SerialPort::Output(const QByteArray &bytes) {
    if (!PortOpen()) {
        errorString_ = QStringLiteral("port not open");
        return PortError::PortNotOpen;
    }
    if (port_->write(bytes) != bytes.size()) {
        errorString_ = port_->errorString();
        return PortError::Other;
    }
    return PortError::None;
}
