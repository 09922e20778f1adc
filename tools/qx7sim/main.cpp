// qx7sim: a bus of simulated QX-7 modules on a pseudo-terminal and/or a TCP
// port. See --help.

#include "SimBus.h"
#include "SimServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

void catchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}
}  // namespace

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

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        std::perror("qx7sim: socketpair");
        return 1;
    }
    catchStopSignals();
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        simLog(QStringLiteral("stopping"));
        app.quit();
    });

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
