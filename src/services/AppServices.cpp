#include "services/AppServices.h"

#include "acquisition/AcquisitionJobs.h"
#include "acquisition/ModuleList.h"
#include "alarms/AlarmRecorder.h"
#include "bus/BusLink.h"
#include "bus/PortSettings.h"
#include "mqtt/MqttPublisher.h"
#include "notify/Notifier.h"
#include "notify/NotifyStatements.h"
#include "services/LoggerLink.h"
#include "store/Clock.h"
#include "store/DataFolder.h"
#include "store/LiteConnection.h"
#include "store/PendingRecords.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/ValueText.h"

#include <QDir>
#include <QFileInfo>

AppServices::AppServices(const QString &databasePath, std::unique_ptr<SerialPort> port,
                         const Clock &clock, QObject *parent)
    : QObject(parent),
      databasePath_(databasePath),
      clock_(clock),
      db_(std::make_unique<LiteConnection>()),
      writer_(std::make_unique<RecordWriter>(clock)),
      bus_(std::make_unique<BusLink>(port ? port.release() : new SerialPort())),
      mqtt_(std::make_unique<MqttPublisher>(clock)),
      notifier_(std::make_unique<Notifier>(databasePath, clock)),
      alarms_(std::make_unique<AlarmRecorder>(db_.get(), writer_.get(), clock)),
      acquisition_(std::make_unique<AcquisitionJobs>(bus_.get(), db_.get(), writer_.get(), clock)) {
    mqtt_->setObjectName(QStringLiteral("mqttPublisher"));
    // Every alarm row queues its messages in the same transaction: a crash
    // or a restart loses none.
    alarms_->setAfterInsert(notify::queueForLastAlarm());
    wire();
}

AppServices::~AppServices() {
    shutdown(0);
}

void AppServices::wire() {
    AcquisitionJobs *jobs = acquisition_.get();
    AlarmRecorder *alarms = alarms_.get();
    MqttPublisher *mqtt = mqtt_.get();
    // Every reading the acquisition believes is judged for alarms and goes
    // to the MQTT broker.
    connect(jobs, &AcquisitionJobs::readingTaken, alarms,
            [this, alarms, mqtt](int, quint8 address, const Measurement &m) {
                alarms->reading(address, m.temperature(), m.humidity());
                mqtt->publishReading(address, m.temperature(), m.humidity(),
                                     recordTimeText(clock_.now()));
            });
    connect(jobs, &AcquisitionJobs::pollFailed, alarms,
            [alarms](int, quint8 address) { alarms->noReply(address); });
    connect(jobs, &AcquisitionJobs::acquisitionStarted, alarms, &AlarmRecorder::acquisitionStarted);
    connect(jobs, &AcquisitionJobs::acquisitionStopped, alarms, &AlarmRecorder::acquisitionEnded);
    connect(jobs, &AcquisitionJobs::listLoaded, this, &AppServices::watchListedModules);
    // Each start and end of an alarm goes to the broker too, with its own time.
    connect(alarms, &AlarmRecorder::alarmChanged, mqtt, [mqtt](const AlarmEvent &e) {
        mqtt->publishAlarm(e.address, e.kindText(), e.stateText(), e.value, e.time);
    });
    connect(alarms, &AlarmRecorder::alarmsChanged, jobs,
            [jobs, alarms] { jobs->modules()->setAlarmed(alarms->alarmedAddresses()); });
}

void AppServices::watchListedModules() {
    // A list that could not be read says nothing about the modules: their
    // alarms stay as they are, and so do their announcements.
    if (!acquisition_->note(AcquisitionJobs::Note::ListLoad).isEmpty())
        return;
    const ModuleListModel &list = *acquisition_->modules();
    QList<AlarmModule> watched;
    QList<MqttModule> announced;
    for (int position = 1; position <= list.count(); ++position) {
        const ModuleRow &row = list.at(position);
        const auto address = row.busAddress();
        if (address)
            announced.append({*address, row.model});
        // Only a module that is polled can be watched.
        if (row.alarm != QStringLiteral("是") || row.enabled != QStringLiteral("是") || !address)
            continue;
        watched.append({*address, row.address});
    }
    alarms_->watch(watched);
    acquisition_->modules()->setAlarmed(alarms_->alarmedAddresses());
    mqtt_->setModules(announced);
}

bool AppServices::open(QString *error, bool existingOnly) {
    QString reason;
    bool ok = true;
    const bool isNew = !QFileInfo::exists(databasePath_);
    if (existingOnly && isNew) {
        ok = false;
        reason = QStringLiteral("文件不存在");
    } else if (!db_->Open(databasePath_)) {
        ok = false;
        reason = db_->lastError();
    } else if (existingOnly) {
        ok = schema::check(*db_, &reason) && writer_->open(databasePath_, &reason);
    } else {
        if (isNew)
            shareWithFolderGroup(databasePath_);
        ok = schema::ensure(*db_, &reason) && writer_->open(databasePath_, &reason);
    }
    if (!ok) {
        db_->Close();
        if (error)
            *error = reason;
        return false;
    }
    // Records an earlier run could not store go in first.
    const QString file = pendingrecords::pathFor(databasePath_);
    int stored = 0;
    QString problem;
    if (!pendingrecords::storeInto(*db_, file, &stored, &problem))
        pendingText_ = QStringLiteral("上次退出时未能保存的记录仍无法写入数据库（%1），仍保留在%2")
                           .arg(problem, QDir::toNativeSeparators(file));
    else if (stored > 0)
        pendingText_ = QStringLiteral("上次退出时未能保存的%1条记录已写入数据库").arg(stored);
    return true;
}

AppServices::PortOpening AppServices::openSavedPort(bool keepTrying) {
    PortOpening result;
    if (bus_->isHeldOutside()) {
        result.heldOutside = bus_->outsideText();
        return result;
    }
    const PortSettings settings = PortSettings::load(*db_);
    result.problems = settings.problems;
    result.commPort = settings.commPort;
    if (!settings.commPort)
        return result;
    SerialPort *port = bus_->port();
    port->setCommPort(*settings.commPort);
    // The speed goes with the port whenever it opens (now or on a retry).
    if (settings.speed &&
        port->setSettings(SerialPort::settingsFor(*settings.speed)) != PortError::None)
        result.problems << QStringLiteral("串口参数无效：") +
                               SerialPort::settingsFor(*settings.speed);
    if (!port->PortOpen())
        result.error = keepTrying ? bus_->openOrKeepTrying() : bus_->openPort();
    return result;
}

QString AppServices::startMqtt() {
    return mqtt_->applyFrom(*db_);
}

QString AppServices::startNotifier() {
    if (heldByLogger_)
        return {};
    QString error;
    if (!notifier_->start(&error))
        return error;
    return {};
}

bool AppServices::watchLogger(int firstWaitMs) {
    if (!loggerWatch_) {
        loggerWatch_ = new LoggerWatch(QFileInfo(databasePath_).absolutePath(), this);
        connect(loggerWatch_, &LoggerWatch::statusChanged, this, &AppServices::onLoggerStatus);
        connect(loggerWatch_, &LoggerWatch::presentChanged, this, [this](bool present) {
            if (!present)
                onLoggerGone();
        });
    }
    const bool present = loggerWatch_->connectNow(firstWaitMs);
    loggerWatch_->start();
    return present;
}

void AppServices::onLoggerStatus(const LoggerStatus &status) {
    if (shutdown_.done)
        return;
    // Said anew when another logger took the place of the first one.
    const QString who = QStringLiteral("qx7logger（进程%1）").arg(status.pid);
    const QString held = who + QStringLiteral("正在采集，串口由它使用");
    if (!heldByLogger_ || bus_->outsideText() != held) {
        heldByLogger_ = true;
        // The port is the logger's; so are the broker and the messages.
        bus_->setHeldOutside(held);
        notifier_->stop();
        mqtt_->setHeldElsewhere(QStringLiteral("MQTT由") + who + QStringLiteral("发布"));
        Q_EMIT loggerChanged(true, held + QStringLiteral("，本程序不使用串口"));
    }
    QList<quint8> alarmed;
    for (const LoggerModule &m : status.modules) {
        const auto address = parseWholeNumber(m.address, 0, 255);
        if (m.alarmed && address)
            alarmed.append(quint8(*address));
    }
    acquisition_->showOutside(status);
    alarms_->showOutside(status.alarms, alarmed);
}

void AppServices::onLoggerGone() {
    if (!heldByLogger_ || shutdown_.done)
        return;
    heldByLogger_ = false;
    alarms_->endOutside();
    acquisition_->endOutside();
    bus_->setHeldOutside(QString());
    mqtt_->setHeldElsewhere(QString());
    // As at start, but without a box: the logger may still hold the device
    // for a moment, and the link tries again every 2 s.
    const PortOpening opening = openSavedPort(true);
    QStringList text{QStringLiteral("qx7logger已停止")};
    if (opening.commPort && opening.error == PortError::None)
        text << QStringLiteral("本程序已打开串口COM%1").arg(*opening.commPort);
    else if (!bus_->statusText().isEmpty() && bus_->isReopening())
        text << bus_->statusText();
    text << opening.problems;
    Q_EMIT loggerChanged(false, text.join(QStringLiteral("；")));
    startMqtt();
    startNotifier();
}

AppServices::Shutdown AppServices::shutdown(int waitMs) {
    if (shutdown_.done)
        return shutdown_;
    shutdown_.done = true;
    if (loggerWatch_)
        loggerWatch_->stop();
    acquisition_->stopAcquisition();
    acquisition_->stopSearch();
    const QStringList left = writer_->close(waitMs);
    if (!left.isEmpty()) {
        // Kept beside the database, to be stored first at the next start.
        const QString file = pendingrecords::pathFor(databasePath_);
        QString error;
        if (pendingrecords::keep(file, left, &error)) {
            shutdown_.kept = int(left.size());
            shutdown_.file = file;
        } else {
            shutdown_.lost = int(left.size());
            shutdown_.error = error;
        }
    }
    mqtt_->stop(waitMs);
    notifier_->stop();
    return shutdown_;
}

QString AppServices::shutdownText(const Shutdown &result) {
    if (result.kept > 0)
        return QStringLiteral("有%1条记录未能写入数据库，已保存到文件%2，下次启动时将自动写入。")
            .arg(result.kept)
            .arg(QDir::toNativeSeparators(result.file));
    if (result.lost > 0)
        return QStringLiteral("有%1条记录未能写入数据库，也无法保存到文件（%2），这些记录已丢失。")
            .arg(result.lost)
            .arg(result.error);
    return {};
}
