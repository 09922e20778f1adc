#include "app/Main.h"

#include "app/MDImain.h"
#include "services/AppServices.h"
#include "store/Clock.h"
#include "store/DataFolder.h"
#include "store/Schema.h"
#include "widgets/MessageBoxes.h"

#include <QCoreApplication>
#include <QDir>

// No application display name is set: the window system would append it to
// every title, and each window's title is exactly its own.
MDImain *Main(const QString &dataDir, SerialPort *port) {
    // --data, else the program's folder when writable, else the user's.
    const DataFolder folder = chooseDataFolder(dataDir);
    const QString dir = folder.ok()         ? folder.path
                        : dataDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                            : dataDir;
    const QString path = QDir(dir).absoluteFilePath(QString::fromLatin1(schema::kDatabaseFile));

    auto services =
        std::make_unique<AppServices>(path, std::unique_ptr<SerialPort>(port), Clock::system());
    QString reason = folder.error;
    if (!folder.ok() || !services->open(&reason)) {
        msgBox(nullptr,
               QStringLiteral("无法打开数据库文件：\n%1\n\n原因：%2\n\n程序将退出。")
                   .arg(QDir::toNativeSeparators(path), reason),
               MsgButtons::Ok, MsgIcon::Critical);
        return nullptr;
    }

    auto *frame = new MDImain(std::move(services));
    frame->setAttribute(Qt::WA_DeleteOnClose);
    // However the program ends (退出, the session ending), the records still
    // waiting get their moment and MQTT says offline.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, frame,
                     [frame] { frame->services().shutdown(); });
    frame->show();
    if (folder.userLocation)
        frame->showStatus(QStringLiteral("程序所在文件夹不可写，数据保存在：%1")
                              .arg(QDir::toNativeSeparators(path)));
    // A logger that acquires for this folder keeps the port, MQTT and the
    // notifications; the program then shows what it reads.
    frame->services().watchLogger();
    frame->startMqtt();
    frame->services().startNotifier();
    frame->openSavedPort();
    return frame;
}
