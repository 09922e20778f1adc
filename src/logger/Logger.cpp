#include "logger/Logger.h"

#include "acquisition/AcquisitionJobs.h"
#include "acquisition/ModuleList.h"
#include "alarms/AlarmRecorder.h"
#include "bus/BusLink.h"
#include "bus/PortSettings.h"
#include "mqtt/MqttPublisher.h"
#include "notify/Notifier.h"
#include "notify/NotifyMessage.h"
#include "services/AppServices.h"
#include "services/LoggerLink.h"
#include "store/Clock.h"
#include "store/LiteConnection.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/ValueText.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QTimer>

namespace {
// While the database refuses records, the backlog is said at most this often.
constexpr qint64 kBacklogLogMs = 60'000;

QString valueText(const AlarmEvent &e) {
    if (!e.value)
        return {};
    return QLatin1Char(' ') + numberText(*e.value) + notifymsg::unitOf(e.kindText());
}
}  // namespace

Logger::Logger(const Options &options, const Clock &clock, std::unique_ptr<SerialPort> port,
               QObject *parent)
    : QObject(parent),
      options_(options),
      clock_(clock),
      services_(std::make_unique<AppServices>(
          QDir(options.dataDir).absoluteFilePath(QString::fromLatin1(schema::kDatabaseFile)),
          std::move(port), clock)),
      status_(new LoggerStatusServer(this)),
      statusTimer_(new QTimer(this)),
      settingsTimer_(new QTimer(this)) {
    statusTimer_->setInterval(1000);
    settingsTimer_->setInterval(kSettingsCheckMs);
    connect(statusTimer_, &QTimer::timeout, this, &Logger::publishStatus);
    connect(settingsTimer_, &QTimer::timeout, this, &Logger::checkSettings);
}

Logger::~Logger() {
    stop();
}

quint64 Logger::progress() const {
    return services_->acquisition().pollTicks();
}

bool Logger::start(QString *error) {
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString dir = QDir(options_.dataDir).absolutePath();
    if (!QFileInfo(dir).isDir())
        return fail(QStringLiteral("数据目录%1不存在").arg(QDir::toNativeSeparators(dir)));
    // One logger per data folder; the lock of one that was killed is stale
    // and taken over.
    lock_ = std::make_unique<QLockFile>(loggerlink::lockPath(dir));
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        if (lock_->error() == QLockFile::LockFailedError && lock_->getLockInfo(&pid, &host, &app))
            return fail(QStringLiteral("数据目录%1已由另一个qx7logger（进程%2）使用，本程序退出")
                            .arg(QDir::toNativeSeparators(dir))
                            .arg(pid));
        return fail(QStringLiteral("无法在数据目录%1中建立锁文件（%2）")
                        .arg(QDir::toNativeSeparators(dir))
                        .arg(lock_->error() == QLockFile::PermissionError
                                 ? QStringLiteral("没有写权限")
                                 : QStringLiteral("未知错误")));
    }
    QString reason;
    if (!services_->open(&reason, true)) {
        lock_->unlock();
        return fail(QStringLiteral("无法使用数据库%1：%2")
                        .arg(QDir::toNativeSeparators(services_->databasePath()), reason));
    }
    const PortSettings port = PortSettings::load(services_->db());
    if (!port.commPort) {
        lock_->unlock();
        return fail(QStringLiteral("串口设置无效：") + port.problems.join(QStringLiteral("；")));
    }
    wire();
    Q_EMIT log(QStringLiteral("开始：数据库%1，采集周期%2毫秒")
                   .arg(QDir::toNativeSeparators(services_->databasePath()))
                   .arg(options_.periodMs));
    if (!services_->pendingText().isEmpty())
        Q_EMIT log(services_->pendingText());

    const QString mqtt = services_->startMqtt();
    if (!mqtt.isEmpty())
        Q_EMIT log(QStringLiteral("MQTT：") + mqtt);
    const QString notifier = services_->startNotifier();
    if (!notifier.isEmpty())
        Q_EMIT log(QStringLiteral("通知无法启动：") + notifier);

    // What is wrong with the saved settings (a bad speed among them) is
    // said once the port has been given them.
    const AppServices::PortOpening opening = services_->openSavedPort(true);
    for (const QString &problem : opening.problems) Q_EMIT log(problem);
    if (opening.error == PortError::None)
        Q_EMIT log(QStringLiteral("串口COM%1（%2）已打开")
                       .arg(*opening.commPort)
                       .arg(services_->bus().port()->deviceName()));

    AcquisitionJobs &jobs = services_->acquisition();
    jobs.loadList();
    for (const QString &note : jobs.notes()) Q_EMIT log(note);
    Q_EMIT log(QStringLiteral("%1个模块").arg(jobs.modules()->count()));
    jobs.startAcquisition(options_.periodMs);

    QString listenError;
    if (!status_->listen(loggerlink::serverName(dir), &listenError))
        Q_EMIT log(QStringLiteral("无法为桌面程序提供实时数据：") + listenError);
    dataVersion_ = -1;
    checkSettings();
    statusTimer_->start();
    settingsTimer_->start();
    publishStatus();
    return true;
}

void Logger::wire() {
    AppServices &s = *services_;
    connect(&s.bus(), &BusLink::statusChanged, this, &Logger::log);
    connect(&s.alarms(), &AlarmRecorder::alarmChanged, this, [this](const AlarmEvent &e) {
        Q_EMIT log(QStringLiteral("报警%1：模块%2 %3%4（%5）")
                       .arg(e.stateText())
                       .arg(e.address)
                       .arg(e.kindText(), valueText(e), e.time));
    });
    connect(&s.alarms(), &AlarmRecorder::noteChanged, this, [this](const QString &note) {
        if (!note.isEmpty())
            Q_EMIT log(note);
    });
    // The backlog when it starts, at most once a minute while it lasts, and
    // when it is over.
    auto lastSaid = std::make_shared<qint64>(0);
    connect(&s.writer(), &RecordWriter::backlogChanged, this,
            [this, lastSaid](int waiting, const QString &error) {
                const qint64 now = clock_.steadyMs();
                if (waiting == 0) {
                    if (backlog_ > 0)
                        Q_EMIT log(QStringLiteral("数据库恢复写入，积压的记录已全部保存"));
                } else if (backlog_ == 0 || now - *lastSaid >= kBacklogLogMs) {
                    Q_EMIT log(QStringLiteral("数据库暂时无法写入（%1），%2条记录等待保存")
                                   .arg(error)
                                   .arg(waiting));
                    *lastSaid = now;
                }
                backlog_ = waiting;
            });
    connect(&s.writer(), &RecordWriter::overflowed, this, [this](int dropped) {
        Q_EMIT log(QStringLiteral("数据库超过一小时无法写入，最早的%1条记录已丢弃").arg(dropped));
    });
    connect(&s.writer(), &RecordWriter::setAside, this, [this](int writes, const QString &error) {
        Q_EMIT log(QStringLiteral("有%1条记录无法写入数据库（%2），已放弃").arg(writes).arg(error));
    });
    connect(&s.mqtt(), &MqttPublisher::stateChanged, this, [this](const QString &text) {
        if (!text.isEmpty())
            Q_EMIT log(text);
    });
    connect(&s.notifier(), &Notifier::sent, this,
            [this](qint64, const QString &line) { Q_EMIT log(line); });
    connect(&s.notifier(), &Notifier::failed, this,
            [this](qint64, const QString &line) { Q_EMIT log(line); });
    connect(&s.notifier(), &Notifier::gaveUp, this,
            [this](qint64, const QString &line) { Q_EMIT log(line); });
}

QString Logger::settingsFingerprint(const QString &table) {
    const auto exists = schema::hasTable(services_->db(), table);
    if (!exists || !*exists)
        return {};
    LiteStatement st = services_->db().prepare(QStringLiteral("select * from ") + table);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    st.Step();
    while (!st.done()) {
        for (int i = 0; i < st.columnCount(); ++i) {
            hash.addData(st.value(i).toString().toUtf8());
            hash.addData(QByteArrayView("\x1f", 1));
        }
        hash.addData(QByteArrayView("\x1e", 1));
        st.Step();
    }
    if (st.failed())
        return QStringLiteral("?") + st.error();
    return QString::fromLatin1(hash.result().toHex());
}

void Logger::checkSettings() {
    // Cheap when nothing changed: data_version moves only when another
    // connection (the desktop program, the logger's own writer) committed.
    LiteStatement st = services_->db().prepare(QStringLiteral("PRAGMA data_version"));
    if (!st.Step() || st.done())
        return;
    const qint64 version = st.integer(0);
    st.Close();
    if (version == dataVersion_)
        return;
    const bool first = dataVersion_ < 0;
    dataVersion_ = version;
    const QString modules = settingsFingerprint(QStringLiteral("dbQx7")) +
                            settingsFingerprint(QStringLiteral("alarmlimit"));
    const QString mqtt = settingsFingerprint(QStringLiteral("mqttsetting"));
    if (first) {
        modulesPrint_ = modules;
        mqttPrint_ = mqtt;
        return;
    }
    if (modules != modulesPrint_) {
        modulesPrint_ = modules;
        // As the editor's save does in the desktop program: the list, the
        // record schedule and the alarm limits anew.
        AcquisitionJobs &jobs = services_->acquisition();
        jobs.loadList();
        Q_EMIT log(QStringLiteral("模块设置已更新：%1个模块").arg(jobs.modules()->count()));
    }
    if (mqtt != mqttPrint_) {
        mqttPrint_ = mqtt;
        const QString problem = services_->startMqtt();
        Q_EMIT log(problem.isEmpty() ? QStringLiteral("MQTT设置已更新")
                                     : QStringLiteral("MQTT设置已更新：") + problem);
    }
}

void Logger::publishStatus() {
    const AcquisitionJobs &jobs = services_->acquisition();
    const ModuleListModel &list = *jobs.modules();
    LoggerStatus s;
    s.pid = QCoreApplication::applicationPid();
    s.acquiring = jobs.isAcquiring();
    s.runTime = jobs.cycle().runTime.text();
    s.counters = jobs.cycle().counterText();
    s.alarms = services_->alarms().activeText();
    s.notes = jobs.notes();
    for (int position = 1; position <= list.count(); ++position) {
        const ModuleRow &row = list.at(position);
        s.modules.append({row.address, row.model, row.enabled, row.temperature, row.humidity,
                          row.recordPeriod, row.alarm, list.isAlarmed(position)});
    }
    status_->publish(s);
}

void Logger::stop() {
    if (stopped_ || !lock_ || !lock_->isLocked())
        return;
    stopped_ = true;
    statusTimer_->stop();
    settingsTimer_->stop();
    const AppServices::Shutdown result = services_->shutdown(kStopWaitMs);
    const QString text = AppServices::shutdownText(result);
    Q_EMIT log(text.isEmpty() ? QStringLiteral("已停止，所有记录均已保存")
                              : QStringLiteral("已停止。") + text);
    lock_->unlock();
}
