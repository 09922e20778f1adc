// qx7logger: the acquisition without a window, for a PC left alone.
//
//     qx7logger [--data DIR] [--period MS]
#include "AppVersion.h"
#include "logger/Logger.h"
#include "logger/ServiceHost.h"
#include "store/Clock.h"
#include "store/DataFolder.h"
#include "store/ValueText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>

namespace {
void say(const QString &line) {
    const QString stamped = QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss ") + line;
    std::fprintf(stderr, "%s\n", stamped.toLocal8Bit().constData());
    std::fflush(stderr);
}

int refuse(const QString &line) {
    std::fprintf(stderr, "qx7logger: %s\n", line.toLocal8Bit().constData());
    return 1;
}
}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx7logger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX7_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "QX-7 温湿度采集（无窗口）：按数据库中的设置采集已启用的模块，保存记录，报警，"
        "发布MQTT和通知。"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataOption(
        QStringLiteral("data"),
        QStringLiteral("mydb.db所在的文件夹。默认为程序所在文件夹，不可写时为用户数据文件夹"),
        QStringLiteral("DIR"));
    const QCommandLineOption periodOption(QStringLiteral("period"),
                                          QStringLiteral("采集周期，毫秒（默认600）。"),
                                          QStringLiteral("MS"), QStringLiteral("600"));
    parser.addOption(dataOption);
    parser.addOption(periodOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("不认识的参数：") + parser.positionalArguments().join(u' '));

    Logger::Options options;
    // Without --data, the desktop program's rule: its folder, or the user's
    // data location when that cannot be written.
    if (parser.isSet(dataOption)) {
        options.dataDir = parser.value(dataOption);
    } else {
        const DataFolder folder = chooseDataFolder(QString());
        if (!folder.ok())
            return refuse(folder.error);
        options.dataDir = folder.path;
    }
    const auto period = parseWholeNumber(parser.value(periodOption), 1, 3'600'000);
    if (!period)
        return refuse(QStringLiteral("采集周期“%1”无效：须为1到3600000之间的整数（毫秒）")
                          .arg(parser.value(periodOption)));
    options.periodMs = int(*period);

    ServiceHost host;
    Logger logger(options, Clock::system());
    QObject::connect(&logger, &Logger::log, &say);
    host.catchStopRequests();
    QString error;
    if (!logger.start(&error))
        return refuse(error);
    host.ready();
    host.status(QStringLiteral("采集中"));

    // The watchdog is fed only while the poll cycle goes on: a loop that
    // hangs is restarted by the system.
    QTimer watchdog;
    quint64 lastProgress = logger.progress();
    if (const int interval = host.watchdogIntervalMs(); interval > 0) {
        watchdog.setInterval(std::max(interval / 2, 100));
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            const quint64 now = logger.progress();
            if (now != lastProgress)
                host.feedWatchdog();
            lastProgress = now;
        });
        watchdog.start();
    }

    QObject::connect(&host, &ServiceHost::stopRequested, &app, [&] {
        host.stopping();
        watchdog.stop();
        say(QStringLiteral("收到停止请求"));
        logger.stop();
        app.quit();
    });
    return app.exec();
}
