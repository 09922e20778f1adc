// qx7sim: a bus of simulated QX-7 modules on a pseudo-terminal and/or a TCP
// port. See --help.

#include "SimBus.h"
#include "SimPlatform.h"
#include "SimServer.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    SimOptions options;
    QString error;
    if (!parseSimOptions(app.arguments().mid(1), &options, &error)) {
        std::fprintf(stderr, "qx7sim: %s\n\n%s", qPrintable(error), qPrintable(simUsage()));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(simUsage()), stdout);
        return 0;
    }
    if (!options.seedGiven)
        options.seed = quint32(QDateTime::currentMSecsSinceEpoch());

    if (!quitOnStopSignals(&app, &error)) {
        std::fprintf(stderr, "qx7sim: %s\n", qPrintable(error));
        return 1;
    }

    SimServer server(options);
    if (!server.start(&error)) {
        std::fprintf(stderr, "qx7sim: %s\n", qPrintable(error));
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);

    const int status = app.exec();
    server.stop();
    return status;
}
