#include "app/MDImain.h"

#include "acquisition/ui/ModuleWindow.h"
#include "alarms/ui/AlarmLogWindow.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/SerialPort.h"
#include "bus/ui/Edit232.h"
#include "console/ui/Form1.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttSettingsDialog.h"
#include "notify/ui/NotifySettings.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/DbaseWindow.h"
#include "services/AppServices.h"
#include "widgets/AppInfo.h"
#include "widgets/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QUrl>

MDImain::MDImain(std::unique_ptr<AppServices> services, ProgramHooks hooks, QWidget *parent)
    : QMainWindow(parent), services_(std::move(services)), hooks_(std::move(hooks)) {
    setObjectName(QStringLiteral("MDImain"));
    setWindowTitle(caption());
    resize(1024, 720);
    if (!hooks_.endProgram)
        hooks_.endProgram = [] { QCoreApplication::exit(0); };
    if (!hooks_.openUrl)
        hooks_.openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    if (!hooks_.beep)
        hooks_.beep = [] { QApplication::beep(); };

    mdi_ = new QMdiArea(this);
    mdi_->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(mdi_);
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    windows_ = new Module1(*services_, mdi_, this, hooks_.beep);

    connect(&services_->bus(), &BusLink::statusChanged, this, &MDImain::showStatus);
    connect(services_.get(), &AppServices::loggerChanged, this,
            [this](bool, const QString &text) { showStatus(text); });
    MqttPublisher *mqtt = &services_->mqtt();
    mqttStatus_ = new QLabel(this);
    mqttStatus_->setObjectName(QStringLiteral("mqttStatus"));
    mqttStatus_->hide();
    statusBar()->addPermanentWidget(mqttStatus_);
    connect(mqtt, &MqttPublisher::stateChanged, mqttStatus_, [this](const QString &text) {
        mqttStatus_->setText(text);
        mqttStatus_->setVisible(!text.isEmpty());
    });

    buildMenus();
    const QString pending = services_->pendingText();
    if (!pending.isEmpty())
        showStatus(pending);
}

MDImain::~MDImain() {
    // The windows go first: they stop their work while the services are
    // still there (which end with services_).
    delete windows_;
}

SerialPort *MDImain::MSComm1() const {
    return services_->bus().port();
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
    const AppServices::PortOpening opening = services_->openSavedPort();
    if (!opening.heldOutside.isEmpty()) {
        showStatus(opening.heldOutside + QStringLiteral("，本程序不使用串口"));
        return;
    }
    // Said in the status line: a box at every start of an unattended
    // program would wait for nobody.
    QStringList problems = opening.problems;
    const int commPort = opening.commPort.value_or(0);
    if (opening.error == PortError::NoSuchPort || opening.error == PortError::PortInUse) {
        if (!problems.isEmpty())
            showStatus(problems.join(QStringLiteral("；")));
        const QString text = opening.error == PortError::NoSuchPort
                                 ? QStringLiteral("COM%1不存在，请选择其他串口")
                                 : QStringLiteral("COM%1被占用，请选择其他串口");
        msgBox(this, text.arg(commPort), MsgButtons::Ok, MsgIcon::Critical,
               QStringLiteral("设置错误！"));
        return;
    }
    if (opening.error != PortError::None && opening.error != PortError::BadSettings)
        problems << QStringLiteral("COM%1无法打开：%2")
                        .arg(commPort)
                        .arg(services_->bus().port()->errorString());
    if (!problems.isEmpty())
        showStatus(problems.join(QStringLiteral("；")));
}

void MDImain::showSerialSettings() {
    closeActiveChild();
    windows_->showWindow(windows_->edit232());
}

void MDImain::showConsole() {
    closeActiveChild();
    windows_->showWindow(windows_->form1());
}

void MDImain::showAcquisition() {
    closeActiveChild();
    windows_->showWindow(windows_->module());
}

void MDImain::showMqttSettings() {
    // Beside the frame: the acquisition goes on while the broker is changed.
    windows_->showWindow(windows_->mqttSetting());
}

void MDImain::showNotifySettings() {
    // Beside the frame, as MQTT设置.
    windows_->showWindow(windows_->notifySettings());
}

void MDImain::startMqtt() {
    services_->startMqtt();
}

void MDImain::endRun() {
    const QString text = AppServices::shutdownText(services_->shutdown());
    if (!text.isEmpty())
        msgBox(this, text, MsgButtons::Ok, MsgIcon::Warning);
}

void MDImain::quit() {
    // At once, as the command says; only the records still waiting are
    // given their moment.
    endRun();
    hooks_.endProgram();
}

void MDImain::showRecords() {
    windows_->showWindow(windows_->anaQx7());
}

void MDImain::showMaintenance() {
    closeActiveChild();
    windows_->showWindow(windows_->dbase());
}

void MDImain::showAlarmLog() {
    // Beside the working windows, as the record list: nothing is closed.
    windows_->showWindow(windows_->alarmLog());
}

void MDImain::showManual() {
    hooks_.openUrl(manualUrl());
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
    endRun();
    event->accept();
}
