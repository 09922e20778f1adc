#pragma once

#include "bus/SerialPort.h"
#include "console/ConsoleReplies.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class AcquisitionJobs;
class AlarmRecorder;
class BusLink;
class Clock;
class LiteConnection;
class LoggerWatch;
struct LoggerStatus;
class MqttPublisher;
class Notifier;
class RecordWriter;

// The parts of the program that outlive any window, made and wired in one
// place: the database connection, the serial port and everything that shares
// it, the record writer, the acquisition, the alarm recorder and the MQTT
// publisher. The desktop program hands them to its windows; a program
// without windows runs them as they are.
class AppServices : public QObject {
    Q_OBJECT
public:
    // How long the end of the run waits for records still waiting.
    static constexpr int kShutdownWaitMs = 2000;
    // How long the start waits for a logger's first word.
    static constexpr int kLoggerFirstWaitMs = 1000;

    // Nothing is opened yet. `port` is the machine's serial port, or an
    // in-memory one in tests; `clock` gives every time of the program.
    AppServices(const QString &databasePath, std::unique_ptr<SerialPort> port, const Clock &clock,
                QObject *parent = nullptr);
    // Ends the run as shutdown() does, if that has not happened.
    ~AppServices() override;

    // Opens the database and the record writer, and stores the records an
    // earlier run left waiting (see pendingText()). A new or empty file gets
    // the program's tables, unless `existingOnly` (the file must then exist
    // and hold them). False, with the reason, when the database cannot be
    // used; nothing was changed then.
    bool open(QString *error, bool existingOnly = false);

    const QString &databasePath() const { return databasePath_; }
    const Clock &clock() const { return clock_; }
    LiteConnection &db() { return *db_; }
    BusLink &bus() { return *bus_; }
    RecordWriter &writer() { return *writer_; }
    AcquisitionJobs &acquisition() { return *acquisition_; }
    AlarmRecorder &alarms() { return *alarms_; }
    MqttPublisher &mqtt() { return *mqtt_; }
    // Sends the alarms to the people of the notification channels.
    Notifier &notifier() { return *notifier_; }
    // What the console keeps across its window's openings.
    console::ConsoleState &console() { return console_; }
    // The text of the last record query; the chart runs it again.
    QString &recordQuery() { return recordQuery_; }

    // Opens the serial port saved in syssetting.
    struct PortOpening {
        std::optional<int> commPort;        // the saved port, if it could be read
        PortError error = PortError::None;  // of the opening
        QStringList problems;               // with the saved settings, one a line
        QString heldOutside;                // a logger holds the port: nothing was tried
    };
    // With `keepTrying`, a port that cannot be opened now is tried again
    // every 2 s, as a lost one.
    PortOpening openSavedPort(bool keepTrying = false);
    // Publishes over MQTT with the settings of table mqttsetting (none: off).
    // The reason when they cannot be used.
    QString startMqtt();
    // Starts sending the alarm messages that wait in table notifylog (and
    // those to come). The reason when it cannot. Not while a logger holds
    // the data folder: it sends them.
    QString startNotifier();

    // A logger (qx7logger) on the same data folder acquires for it. Watches
    // for one from now on: looks at once (waiting up to `firstWaitMs` for
    // its first word) and then every few seconds. While one runs:
    // - the bus link is held outside: the port stays closed here, the jobs
    //   and the console's polling refuse to start, saying why;
    // - the logger publishes over MQTT and sends the notifications, this
    //   program does neither;
    // - the module list, its alarm marks and line, the counters and the run
    //   time show what the logger reads, at each of its status lines.
    // When it goes, this program opens its saved port (trying again every
    // 2 s while the logger lets go of it) and starts MQTT and the
    // notifications again. True when a logger answered at once.
    bool watchLogger(int firstWaitMs = kLoggerFirstWaitMs);

    // What the start did with records an earlier run could not store: how
    // many it stored now, or why they still wait; empty when there were none.
    QString pendingText() const { return pendingText_; }

    // Ends the run: the acquisition stops (its alarms end), the records still
    // waiting get up to `waitMs` to be stored, what remains is kept in the
    // file beside the database for the next start, MQTT says offline and the
    // notifications stop (what waits is sent at the next start).
    // A second call does nothing.
    struct Shutdown {
        int kept = 0;  // records kept in `file` for the next start
        int lost = 0;  // records that could not be kept anywhere
        QString file;
        QString error;  // why they could not be kept
        bool done = false;
    };
    Shutdown shutdown(int waitMs = kShutdownWaitMs);
    // What to tell the operator about the end of the run; empty when all was
    // stored.
    static QString shutdownText(const Shutdown &result);

Q_SIGNALS:
    // A logger took hold of the data folder or let it go; `text` is for the
    // status line.
    void loggerChanged(bool present, const QString &text);

private:
    void wire();
    void watchListedModules();
    void onLoggerStatus(const LoggerStatus &status);
    void onLoggerGone();

    QString databasePath_;
    const Clock &clock_;
    std::unique_ptr<LiteConnection> db_;
    // Declared in the order they depend on each other: each goes before
    // what it uses.
    std::unique_ptr<RecordWriter> writer_;
    std::unique_ptr<BusLink> bus_;
    std::unique_ptr<MqttPublisher> mqtt_;
    std::unique_ptr<Notifier> notifier_;
    std::unique_ptr<AlarmRecorder> alarms_;
    std::unique_ptr<AcquisitionJobs> acquisition_;
    console::ConsoleState console_;
    QString recordQuery_;
    QString pendingText_;
    Shutdown shutdown_;
    LoggerWatch *loggerWatch_ = nullptr;
    bool heldByLogger_ = false;
};
