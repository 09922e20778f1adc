#pragma once

#include <QObject>

class QSocketNotifier;

// What the system that runs the logger as a service sees of it: readiness,
// the watchdog, a status line, and the request to stop (SIGTERM or SIGINT;
// Ctrl+C or the console closing on Windows). Without systemd (or where the
// program was built without libsystemd) the notifications do nothing.
class ServiceHost : public QObject {
    Q_OBJECT
public:
    explicit ServiceHost(QObject *parent = nullptr);
    ~ServiceHost() override;

    // Catches the stop requests from now on: stopRequested() instead of the
    // default end of the process.
    bool catchStopRequests();

    void ready();
    void stopping();
    void status(const QString &text);
    // How often the watchdog wants to hear from the program, in ms; 0 when
    // there is none.
    int watchdogIntervalMs() const;
    void feedWatchdog();

Q_SIGNALS:
    void stopRequested();

private:
    void onSignal();
    QSocketNotifier *notifier_ = nullptr;
};
