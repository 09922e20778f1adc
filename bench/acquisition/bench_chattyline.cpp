// The program's serial port on a line that never pauses: another device on
// a pseudo-terminal sends a byte every 2 ms (500 bytes/s), so the 25 ms
// silence that ends a frame never comes. Prints the frames delivered and the
// program's resident memory at the start and every few seconds: it must stay
// flat (the frames close at 256 bytes or 1 s, and no byte piles up in the
// port).
//
//   bench_chattyline [seconds]   (default 30)
#include "bus/FrameAssembler.h"
#include "bus/ReceiveRouter.h"
#include "bus/SerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <pty.h>
#include <unistd.h>

#include <cstdio>

namespace {
long residentKilobytes() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

class Sink : public QObject, public ReceiveTarget {
public:
    void receiveText(const QString &text) override {
        ++frames;
        bytes += text.size() / 3;
    }
    long frames = 0;
    long bytes = 0;
};
}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 30;
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    qputenv("QX7_COM1", name);
    SerialPort port;
    ReceiveRouter router;
    FrameAssembler frames(&port, &router);
    Sink sink;
    router.registerTarget(&sink, &sink);
    if (port.open() != PortError::None) {
        std::fprintf(stderr, "cannot open %s\n", name);
        return 1;
    }

    const long startKb = residentKilobytes();
    std::printf("a byte every 2 ms for %d s on %s\n%8s %8s %10s %12s\n", seconds, name, "time s",
                "frames", "bytes", "memory kB");
    std::printf("%8d %8ld %10ld %12ld\n", 0, sink.frames, sink.bytes, startKb);
    QTimer line;
    line.setTimerType(Qt::PreciseTimer);
    line.setInterval(2);
    QObject::connect(&line, &QTimer::timeout, [&] {
        const char byte = 0x55;
        [[maybe_unused]] const ssize_t n = ::write(master, &byte, 1);
    });
    QTimer report;
    report.setInterval(5000);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&report, &QTimer::timeout, [&] {
        std::printf("%8lld %8ld %10ld %12ld\n", clock.elapsed() / 1000, sink.frames, sink.bytes,
                    residentKilobytes());
        std::fflush(stdout);
        if (clock.elapsed() >= seconds * 1000LL)
            app.quit();
    });
    line.start();
    report.start();
    app.exec();
    std::printf("memory growth over %d s: %ld kB\n", seconds, residentKilobytes() - startKb);
    return 0;
}
