#include "bus/ui/Edit232.h"

#include "bus/BusLink.h"
#include "bus/PortSettings.h"
#include "bus/SerialPort.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
const QString kOpenCaption = QStringLiteral("打开串口");
const QString kCloseCaption = QStringLiteral("关闭串口");
constexpr int kPorts = 9;
}  // namespace

Edit232::Edit232(BusLink *bus, LiteConnection *db, QWidget *parent)
    : QWidget(parent, Qt::Window), bus_(bus), db_(db) {
    setObjectName(QStringLiteral("edit232"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("串口设置"));

    auto *portLabel = makeControl<QLabel>(this, "Label1", QStringLiteral("选择串口："));
    portList_ = makeControl<QComboBox>(this, "Combo1");
    for (int n = 1; n <= kPorts; ++n) portList_->addItem(QString::number(n));
    portList_->setCurrentIndex(0);
    portLabel->setBuddy(portList_);
    deviceLabel_ = makeControl<QLabel>(this, "deviceLabel");
    deviceLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *speedLabel = makeControl<QLabel>(this, "Label17", QStringLiteral("串口速度："));
    speedBox_ = makeControl<QLineEdit>(this, "Text20", QStringLiteral("9600"));
    speedLabel->setBuddy(speedBox_);
    openButton_ = makeControl<QPushButton>(this, "Command4", kOpenCaption);
    auto *exitButton = makeControl<QPushButton>(this, "Command3", QStringLiteral("退出"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(portLabel, 0, 0);
    grid->addWidget(portList_, 0, 1);
    grid->addWidget(deviceLabel_, 0, 2);
    grid->addWidget(speedLabel, 1, 0);
    grid->addWidget(speedBox_, 1, 1);
    grid->addWidget(openButton_, 2, 1);
    grid->addWidget(exitButton, 2, 2);
    grid->setColumnStretch(2, 1);

    connect(portList_, &QComboBox::currentIndexChanged, this, [this] { choosePort(); });
    connect(openButton_, &QPushButton::clicked, this, &Edit232::togglePort);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
    showPort();
}

void Edit232::showPort() {
    // A port number beyond the list (set by hand in the database) shows no
    // entry; opening then keeps that number.
    const int commPort = bus_->port()->CommPort();
    portList_->setCurrentIndex(commPort >= 1 && commPort <= kPorts ? commPort - 1 : -1);
    choosePort();
    showPortState(bus_->port()->PortOpen());
}

void Edit232::choosePort() {
    SerialPort *port = bus_->port();
    if (!port->PortOpen() && portList_->currentIndex() >= 0)
        port->setCommPort(portList_->currentIndex() + 1);
    showDevice();
}

void Edit232::showDevice() {
    const int index = portList_->currentIndex();
    const int commPort = index >= 0 ? index + 1 : bus_->port()->CommPort();
    deviceLabel_->setText(commPort > 0 ? SerialPort::deviceNameFor(commPort) : QString());
}

void Edit232::showPortState(bool open) {
    openButton_->setText(open ? kCloseCaption : kOpenCaption);
    portList_->setEnabled(!open);
    speedBox_->setEnabled(!open);
}

void Edit232::togglePort() {
    if (bus_->port()->PortOpen()) {
        // Closing saves nothing: the next start opens the last port opened here.
        bus_->closePort();
        showPortState(false);
        return;
    }
    const QString speed = speedBox_->text().trimmed();
    if (!openPort(speed))
        return;
    showPortState(true);
    // Port and speed are stored together or not at all.
    QString error;
    if (!PortSettings::save(*db_, bus_->port()->CommPort(), speed, &error))
        msgBox(this, QStringLiteral("串口已打开，但设置无法保存：") + error);
}

bool Edit232::openPort(const QString &speed) {
    SerialPort *port = bus_->port();
    // A speed the port could never take is refused before anything is
    // opened or saved, so that a typo never becomes the setting of the next start.
    if (!SerialPort::validSpeed(speed)) {
        msgBox(this, QStringLiteral("串口速度无效，请输入正整数，如9600"));
        speedBox_->setFocus();
        return false;
    }
    if (portList_->currentIndex() >= 0)
        port->setCommPort(portList_->currentIndex() + 1);
    switch (bus_->openPort()) {
        case PortError::None:
        case PortError::BadSettings:  // open; the speed below decides
            break;
        case PortError::NoSuchPort:
            msgBox(this, QStringLiteral("该串口不存在，请选择其他串口"));
            return false;
        case PortError::PortInUse:
            msgBox(this, bus_->isHeldOutside() ? bus_->outsideText()
                                               : QStringLiteral("该串口被占用，请选择其他串口"));
            return false;
        default:
            msgBox(this, QStringLiteral("该串口无法打开：") + port->errorString());
            return false;
    }
    if (port->setSettings(SerialPort::settingsFor(speed)) != PortError::None) {
        bus_->closePort();
        msgBox(this, QStringLiteral("该串口不支持速度%1，请输入其他速度").arg(speed));
        speedBox_->setFocus();
        return false;
    }
    return true;
}
