#include "app/MDImain.h"

#include "acquisition/ui/ModuleWindow.h"
#include "alarms/ui/AlarmLogWindow.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/PortSettings.h"
#include "bus/SerialPort.h"
#include "bus/ui/Edit232.h"
#include "console/ui/Form1.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttSettingsDialog.h"
#include "notify/ui/NotifySettings.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/DbaseWindow.h"
#include "widgets/AppInfo.h"
#include "widgets/MessageBoxes.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QUrl>

namespace {
std::function<void(const QUrl &)> &urlOpener() {
    static std::function<void(const QUrl &)> opener = [](const QUrl &url) {
        QDesktopServices::openUrl(url);
    };
    return opener;
}
}  // namespace

MDImain::MDImain(SerialPort *port, QWidget *parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MDImain"));
    setWindowTitle(caption());
    resize(1024, 720);

    mdi_ = new QMdiArea(this);
    mdi_->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(mdi_);
    statusBar()->setObjectName(QStringLiteral("statusBar"));

    bus_ = new BusLink(port ? port : new SerialPort(), this);
    connect(bus_, &BusLink::statusChanged, this, &MDImain::showStatus);

    mqtt_ = new MqttPublisher(this);
    mqtt_->setObjectName(QStringLiteral("mqttPublisher"));
    mqttStatus_ = new QLabel(this);
    mqttStatus_->setObjectName(QStringLiteral("mqttStatus"));
    mqttStatus_->hide();
    statusBar()->addPermanentWidget(mqttStatus_);
    connect(mqtt_, &MqttPublisher::stateChanged, mqttStatus_, [this](const QString &text) {
        mqttStatus_->setText(text);
        mqttStatus_->setVisible(!text.isEmpty());
    });

    buildMenus();
    Module1::setMdiMain(this);
}

MDImain::~MDImain() {
    // "offline" goes out while the frame is whole.
    mqtt_->stop();
    if (Module1::mdiMain() == this)
        Module1::setMdiMain(nullptr);
}

SerialPort *MDImain::MSComm1() const {
    return bus_->port();
}

FrameAssembler *MDImain::frames() const {
    return bus_->frames();
}

QString MDImain::caption() {
    return QString::fromUtf8(appinfo::kMakerName) + QString::fromUtf8(appinfo::kTitle) +
           QLatin1Char(' ') + QString::fromUtf8(appinfo::kWebAddress) + QLatin1Char(' ') +
           QString::fromUtf8(appinfo::kVersion);
}

QString MDImain::aboutText() {
    return QStringLiteral("\n") + QString::fromUtf8(appinfo::kTitle) + QLatin1Char(' ') +
           QString::fromUtf8(appinfo::kVersion) +
           QStringLiteral("\nQX-7 温湿度模块 多模块采集与记录\n") +
           QString::fromUtf8(appinfo::kMakerName) + QLatin1Char(' ') +
           QString::fromUtf8(appinfo::kWebAddress);
}

QUrl MDImain::manualUrl() {
    return QUrl(QStringLiteral("http://") + QString::fromUtf8(appinfo::kWebAddress) +
                QString::fromUtf8(appinfo::kManualPath));
}

void MDImain::setUrlOpener(std::function<void(const QUrl &)> opener) {
    urlOpener() =
        opener ? std::move(opener) : [](const QUrl &url) { QDesktopServices::openUrl(url); };
}

void MDImain::buildMenus() {
    auto item = [this](QMenu *menu, const char *name, const QString &text,
                       void (MDImain::*slot)()) {
        QAction *a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
    };
    QMenu *system = menuBar()->addMenu(QStringLiteral("系统"));
    system->setObjectName(QStringLiteral("system"));
    item(system, "rs232", QStringLiteral("串口设置"), &MDImain::showSerialSettings);
    item(system, "sigboard", QStringLiteral("操作单模块"), &MDImain::showConsole);
    item(system, "board", QStringLiteral("温湿度采集"), &MDImain::showAcquisition);
    item(system, "mqtt", QStringLiteral("MQTT设置"), &MDImain::showMqttSettings);
    item(system, "notify", QStringLiteral("通知设置"), &MDImain::showNotifySettings);
    item(system, "quit", QStringLiteral("退出"), &MDImain::quit);

    QMenu *run = menuBar()->addMenu(QStringLiteral("数据库"));
    run->setObjectName(QStringLiteral("run"));
    item(run, "analys", QStringLiteral("提取纪录"), &MDImain::showRecords);
    item(run, "backup", QStringLiteral("维护"), &MDImain::showMaintenance);
    item(run, "alarmlog", QStringLiteral("报警记录"), &MDImain::showAlarmLog);

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("help"));
    item(help, "content", QStringLiteral("内容"), &MDImain::showManual);
    item(help, "about", QStringLiteral("关于"), &MDImain::showAbout);
}

QMdiSubWindow *MDImain::addChild(QWidget *window) {
    QMdiSubWindow *sub = mdi_->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    // A working window that closes itself takes its sub-window with it.
    connect(window, &QObject::destroyed, sub, [sub] { sub->close(); });
    return sub;
}

void MDImain::closeActiveChild() {
    QMdiSubWindow *sub = mdi_->activeSubWindow();
    if (!sub)
        sub = mdi_->currentSubWindow();
    if (!sub && !mdi_->subWindowList().isEmpty())
        sub = mdi_->subWindowList().constLast();
    if (!sub)
        return;
    if (sub->close())
        delete sub;  // at once, so that the command can open the window afresh
}

void MDImain::openSavedPort() {
    const PortSettings settings = PortSettings::load(Module1::dbconn());
    SerialPort *port = bus_->port();
    // Said in the status line: a box at every start of an unattended
    // program would wait for nobody.
    QStringList problems = settings.problems;
    auto report = [&] {
        if (!problems.isEmpty())
            showStatus(problems.join(QStringLiteral("；")));
    };
    if (!settings.commPort) {
        report();
        return;
    }
    const int commPort = *settings.commPort;
    port->setCommPort(commPort);

    if (!port->PortOpen()) {
        const PortError e = bus_->openPort();
        if (e == PortError::NoSuchPort) {
            report();
            msgBox(this, QStringLiteral("COM%1不存在，请选择其他串口").arg(commPort),
                   MsgButtons::Ok, MsgIcon::Critical, QStringLiteral("设置错误！"));
            return;
        }
        if (e == PortError::PortInUse) {
            report();
            msgBox(this, QStringLiteral("COM%1被占用，请选择其他串口").arg(commPort),
                   MsgButtons::Ok, MsgIcon::Critical, QStringLiteral("设置错误！"));
            return;
        }
        if (e != PortError::None && e != PortError::BadSettings) {
            problems << QStringLiteral("COM%1无法打开：%2").arg(commPort).arg(port->errorString());
            report();
            return;
        }
    }
    if (settings.speed &&
        port->setSettings(SerialPort::settingsFor(*settings.speed)) != PortError::None)
        problems << QStringLiteral("串口参数无效：") + SerialPort::settingsFor(*settings.speed);
    report();
}

void MDImain::showSerialSettings() {
    closeActiveChild();
    Module1::showWindow(Module1::edit232());
}

void MDImain::showConsole() {
    closeActiveChild();
    Module1::showWindow(Module1::form1());
}

void MDImain::showAcquisition() {
    closeActiveChild();
    Module1::showWindow(Module1::module());
}

void MDImain::showMqttSettings() {
    // Beside the frame: the acquisition goes on while the broker is changed.
    Module1::showWindow(Module1::mqttSetting());
}

void MDImain::showNotifySettings() {
    // Beside the frame, as MQTT设置.
    Module1::showWindow(Module1::notifySettings());
}

void MDImain::startMqtt() {
    mqtt_->applyFrom(Module1::dbconn());
}

void MDImain::quit() {
    Module1::endProgram();
}

void MDImain::showRecords() {
    Module1::showWindow(Module1::anaQx7());
}

void MDImain::showMaintenance() {
    closeActiveChild();
    Module1::showWindow(Module1::dbase());
}

void MDImain::showAlarmLog() {
    // Beside the working windows, as the record list: nothing is closed.
    Module1::showWindow(Module1::alarmLog());
}

void MDImain::showManual() {
    urlOpener()(manualUrl());
}

void MDImain::showAbout() {
    msgBox(this, aboutText(), MsgButtons::Ok, MsgIcon::None, QString::fromUtf8(appinfo::kTitle));
}

void MDImain::showStatus(const QString &text) {
    statusBar()->showMessage(text);
}

void MDImain::closeEvent(QCloseEvent *event) {
    // The frame takes its windows with it; each one stops its own jobs.
    mdi_->closeAllSubWindows();
    const auto windows = findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *w : windows) {
        if (w->isWindow() && w->isVisible())
            w->close();
    }
    event->accept();
}
