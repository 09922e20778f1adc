// The simulator on Windows: no pseudo-terminals there, so --serial says so
// (the TCP link of --tcp works as everywhere); Ctrl-C and closing the console
// stop it.
#include "SimPlatform.h"
#include "SimServer.h"

#include <QCoreApplication>

#include <windows.h>

bool PtyLink::open(const QString &linkPath, int baud, QString *error) {
    Q_UNUSED(linkPath);
    Q_UNUSED(baud);
    *error = QStringLiteral(
        "--serial needs a pseudo-terminal, which Windows lacks: serve --tcp instead, or "
        "run the simulator on Linux");
    return false;
}

void PtyLink::close() {}

void PtyLink::readMaster() {}

bool PtyLink::send(QByteArrayView bytes) {
    Q_UNUSED(bytes);
    return false;
}

namespace {
BOOL WINAPI onConsoleEvent(DWORD) {
    // Runs on a thread of its own: hand the stop to the event loop.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            simLog(QStringLiteral("stopping"));
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    return TRUE;
}
}  // namespace

bool quitOnStopSignals(QCoreApplication *app, QString *error) {
    Q_UNUSED(app);
    if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
        *error = QStringLiteral("SetConsoleCtrlHandler failed (%1)").arg(GetLastError());
        return false;
    }
    return true;
}
