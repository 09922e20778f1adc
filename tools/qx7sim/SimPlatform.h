#pragma once

#include <QString>

class QCoreApplication;

// What the simulator asks of the operating system, implemented once per kind
// of system: SimPlatform_posix.cpp (Linux and other POSIX systems) and
// SimPlatform_win.cpp. The pseudo-terminal of --serial (PtyLink in
// SimServer.h) is implemented there as well.

// Ends the event loop of `app` on a stop request (SIGINT, SIGTERM or SIGHUP;
// Ctrl-C or closing the console on Windows), logging "stopping". False with
// the reason in *error when that cannot be arranged.
bool quitOnStopSignals(QCoreApplication *app, QString *error);
