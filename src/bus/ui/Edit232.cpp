#include "bus/ui/Edit232.h"

#include "app/Module1.h"
#include "bus/SerialPort.h"
#include "store/Statements.h"
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

Edit232::Edit232(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("edit232"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("串口设置"));
    buildControls();
    Form_Load();
}

void Edit232::buildControls() {
    Label1_ = new QLabel(QStringLiteral("选择串口："), this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Combo1_ = new QComboBox(this);
    Combo1_->setObjectName(QStringLiteral("Combo1"));
    for (int n = 1; n <= kPorts; ++n) Combo1_->addItem(QString::number(n));
    Combo1_->setCurrentIndex(0);
    Label1_->setBuddy(Combo1_);
    deviceLabel_ = new QLabel(this);
    deviceLabel_->setObjectName(QStringLiteral("deviceLabel"));
    deviceLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Label17_ = new QLabel(QStringLiteral("串口速度："), this);
    Label17_->setObjectName(QStringLiteral("Label17"));
    Text20_ = new QLineEdit(QStringLiteral("9600"), this);
    Text20_->setObjectName(QStringLiteral("Text20"));
    Label17_->setBuddy(Text20_);

    Command4_ = new QPushButton(kOpenCaption, this);
    Command4_->setObjectName(QStringLiteral("Command4"));
    Command3_ = new QPushButton(QStringLiteral("退出"), this);
    Command3_->setObjectName(QStringLiteral("Command3"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(Label1_, 0, 0);
    grid->addWidget(Combo1_, 0, 1);
    grid->addWidget(deviceLabel_, 0, 2);
    grid->addWidget(Label17_, 1, 0);
    grid->addWidget(Text20_, 1, 1);
    grid->addWidget(Command4_, 2, 1);
    grid->addWidget(Command3_, 2, 2);
    grid->setColumnStretch(2, 1);

    connect(Combo1_, &QComboBox::currentIndexChanged, this, [this] { Combo1_Click(); });
    connect(Command4_, &QPushButton::clicked, this, &Edit232::Command4_Click);
    connect(Command3_, &QPushButton::clicked, this, &Edit232::Command3_Click);
}

void Edit232::Form_Load() {
    SerialPort *port = Module1::MSComm1();
    if (!port) {
        Command4_->setEnabled(false);
        showDevice();
        return;
    }
    // A port number beyond the list (set by hand in the database) shows no
    // entry; opening then keeps that number.
    const int commPort = port->CommPort();
    Combo1_->setCurrentIndex(commPort >= 1 && commPort <= kPorts ? commPort - 1 : -1);
    Combo1_Click();
    showPortState(port->PortOpen());
}

void Edit232::Combo1_Click() {
    SerialPort *port = Module1::MSComm1();
    if (port && !port->PortOpen() && Combo1_->currentIndex() >= 0)
        port->setCommPort(Combo1_->currentIndex() + 1);
    showDevice();
}

void Edit232::showDevice() {
    SerialPort *port = Module1::MSComm1();
    const int index = Combo1_->currentIndex();
    const int commPort = index >= 0 ? index + 1 : (port ? port->CommPort() : 0);
    deviceLabel_->setText(commPort > 0 ? SerialPort::deviceNameFor(commPort) : QString());
}

void Edit232::showPortState(bool open) {
    Command4_->setText(open ? kCloseCaption : kOpenCaption);
    Combo1_->setEnabled(!open);
    Text20_->setEnabled(!open);
}

void Edit232::Command4_Click() {
    SerialPort *port = Module1::MSComm1();
    if (!port)
        return;
    if (port->PortOpen()) {
        // Closing saves nothing: the next start opens the last port opened here.
        port->close();
        showPortState(false);
        return;
    }
    const QString speed = Text20_->text().trimmed();
    if (!openPort(port, speed))
        return;
    showPortState(true);
    saveChoice(port, speed);
}

bool Edit232::openPort(SerialPort *port, const QString &speed) {
    // A speed the port could never take is refused before anything is
    // opened or saved, so that a typo never becomes the setting of the next start.
    if (!SerialPort::validSpeed(speed)) {
        msgBox(this, QStringLiteral("串口速度无效，请输入正整数，如9600"));
        Text20_->setFocus();
        return false;
    }
    if (Combo1_->currentIndex() >= 0)
        port->setCommPort(Combo1_->currentIndex() + 1);
    switch (port->open()) {
        case PortError::None:
        case PortError::BadSettings:  // open; the speed below decides
            break;
        case PortError::NoSuchPort:
            msgBox(this, QStringLiteral("该串口不存在，请选择其他串口"));
            return false;
        case PortError::PortInUse:
            msgBox(this, QStringLiteral("该串口被占用，请选择其他串口"));
            return false;
        default:
            msgBox(this, QStringLiteral("该串口无法打开：") + port->errorString());
            return false;
    }
    if (port->setSettings(SerialPort::settingsFor(speed)) != PortError::None) {
        port->close();
        msgBox(this, QStringLiteral("该串口不支持速度%1，请输入其他速度").arg(speed));
        Text20_->setFocus();
        return false;
    }
    return true;
}

void Edit232::saveChoice(SerialPort *port, const QString &speed) {
    // Port and speed are stored together or not at all.
    LiteConnection &db = Module1::dbconn();
    LiteTransaction transaction(db);
    const bool saved = db.Execute(sql::updatePortSetting(port->CommPort() - 1)) &&
                       db.Execute(sql::updateSpeedSetting(speed)) && transaction.commit();
    if (!saved)
        msgBox(this, QStringLiteral("串口已打开，但设置无法保存：") + db.lastError());
}

void Edit232::Command3_Click() {
    close();
}
