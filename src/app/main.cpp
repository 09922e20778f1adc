#include "app/Main.h"
#include "AppVersion.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>
#include <memory>

namespace {
// --help and --version answer without a display: a core application serves
// them, as Qt's documentation of QApplication suggests.
std::unique_ptr<QCoreApplication> createApplication(int &argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char *text : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], text) == 0)
                return std::make_unique<QCoreApplication>(argc, argv);
        }
    }
    return std::make_unique<QApplication>(argc, argv);
}
}  // namespace

// qx7daq [--data DIR]: the desktop program. Without --data it keeps mydb.db
// beside itself, or in the user's data location when its folder cannot be
// written (store/DataFolder.h).
int main(int argc, char *argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("qx7daq"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX7_VERSION));
    const std::unique_ptr<QCoreApplication> app = createApplication(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("QX-7 温湿度采集软件"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption data(
        QStringLiteral("data"),
        QStringLiteral("数据文件夹（mydb.db 与 backup 所在），不存在时创建。默认为程序所在文件夹，"
                       "不可写时为用户数据文件夹"),
        QStringLiteral("DIR"));
    parser.addOption(data);
    parser.process(*app);  // --help, --version and a bad argument end here

    if (!Main(parser.value(data)))
        return 1;
    return app->exec();
}
