#include "logger/ServiceHost.h"

#include <QByteArray>
#include <QSocketNotifier>

#ifdef QX7_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#include <csignal>
#endif

namespace {
#ifdef Q_OS_WIN
ServiceHost *theHost = nullptr;

BOOL WINAPI onConsoleEvent(DWORD) {
    if (theHost)
        QMetaObject::invokeMethod(theHost, "stopRequested", Qt::QueuedConnection);
    return TRUE;
}
#else
// A signal handler may only write to a pipe; the event loop reads it.
int signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}
#endif

void notify(const QByteArray &state) {
#ifdef QX7_HAVE_SYSTEMD
    sd_notify(0, state.constData());
#else
    Q_UNUSED(state);
#endif
}
}  // namespace

ServiceHost::ServiceHost(QObject *parent) : QObject(parent) {}

ServiceHost::~ServiceHost() {
#ifdef Q_OS_WIN
    theHost = nullptr;
#endif
}

bool ServiceHost::catchStopRequests() {
#ifdef Q_OS_WIN
    theHost = this;
    return SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
#else
    if (signalPipe[0] < 0) {
        if (::pipe(signalPipe) != 0)
            return false;
        ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    }
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ServiceHost::onSignal);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
#endif
}

void ServiceHost::onSignal() {
#ifndef Q_OS_WIN
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
#endif
    Q_EMIT stopRequested();
}

void ServiceHost::ready() {
    notify("READY=1");
}

void ServiceHost::stopping() {
    notify("STOPPING=1");
}

void ServiceHost::status(const QString &text) {
    notify("STATUS=" + text.toUtf8());
}

int ServiceHost::watchdogIntervalMs() const {
#ifdef QX7_HAVE_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        return int(usec / 1000);
#endif
    return 0;
}

void ServiceHost::feedWatchdog() {
    notify("WATCHDOG=1");
}
