#pragma once

#include "bus/SerialPort.h"

#include <QObject>
#include <QString>

#include <memory>

class AppServices;
class Clock;
class LoggerStatusServer;
class QLockFile;
class QTimer;

// The acquisition without a window: what the acquisition window does while
// 采集 runs, with the same decisions and statements, started at once and
// kept going unattended. It polls the enabled modules, stores their records,
// raises and logs alarms, publishes over MQTT and sends notifications; it
// reopens a lost port by itself, picks up edits of the modules, limits and
// MQTT settings made by the desktop program while it runs, and tells a
// desktop program on the same machine what it reads.
//
// One line per event goes to log(): start, port lost and back, alarm start
// and end, database backlog, MQTT state; never one per poll.
class Logger : public QObject {
    Q_OBJECT
public:
    // How often the database is looked at for edits of the settings.
    static constexpr int kSettingsCheckMs = 3000;
    // How long the end waits for records still waiting.
    static constexpr int kStopWaitMs = 3000;

    struct Options {
        QString dataDir;
        int periodMs = 600;
    };

    Logger(const Options &options, const Clock &clock, std::unique_ptr<SerialPort> port = {},
           QObject *parent = nullptr);
    ~Logger() override;

    // Takes the data folder (one logger each), opens the database (it must
    // exist and hold the program's tables), reads the settings, tries the
    // port and starts polling. False, with one line for the operator, when
    // it cannot run; nothing was changed then.
    bool start(QString *error);
    // Ends the run: polling stops (alarms end), queued records are stored
    // (bounded), MQTT says offline. Said in the log.
    void stop();

    // Poll ticks so far: the watchdog is fed only while this goes on.
    quint64 progress() const;
    // Looks for edits of the settings now (the timer does it every
    // kSettingsCheckMs).
    void checkSettings();

Q_SIGNALS:
    void log(const QString &line);

private:
    void wire();
    void publishStatus();
    QString settingsFingerprint(const QString &table);

    Options options_;
    const Clock &clock_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<AppServices> services_;
    LoggerStatusServer *status_;
    QTimer *statusTimer_;
    QTimer *settingsTimer_;
    qint64 dataVersion_ = -1;
    QString modulesPrint_;
    QString mqttPrint_;
    int backlog_ = 0;
    bool stopped_ = false;
};
