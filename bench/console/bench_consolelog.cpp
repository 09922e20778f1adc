// How long one line takes to go into the console's log as the log grows:
// hours of automatic polling add a line a second and must not slow down.
#include "bus/BusLink.h"
#include "console/ui/Form1.h"
#include "support/FakeSerialPort.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <cstdio>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    BusLink bus(new FakeSerialPort());
    console::ConsoleState state;
    Form1 form(&bus, &state);
    form.resize(1000, 700);
    form.show();
    QCoreApplication::processEvents();

    const QString line = QStringLiteral(" 01 04 04 00 FA 02 58 DB 2F");
    constexpr int kBlock = 1000;
    constexpr int kLines = 100000;
    std::printf("lines in log   microseconds per appended line\n");
    QElapsedTimer clock;
    for (int done = 0; done < kLines; done += kBlock) {
        clock.start();
        for (int i = 0; i < kBlock; ++i) form.appendLog(line);
        QCoreApplication::processEvents();
        const double perLine = double(clock.nsecsElapsed()) / 1000.0 / kBlock;
        if (done == 0 || (done + kBlock) % 20000 == 0)
            std::printf("%12d   %8.1f\n", done + kBlock, perLine);
    }
    return 0;
}
