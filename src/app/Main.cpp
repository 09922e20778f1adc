#include "app/Main.h"

#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/SerialPort.h"
#include "store/DataFolder.h"
#include "store/RecordWriter.h"
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
    Module1::setDatabasePath(path);

    LiteConnection &db = Module1::dbconn();
    QString reason = folder.error;
    bool ok = folder.ok() && db.Open(path);
    if (folder.ok() && !ok)
        reason = db.lastError();
    else if (ok)
        ok = schema::ensure(db, &reason) && Module1::writer().open(path, &reason);
    if (!ok) {
        db.Close();
        msgBox(nullptr,
               QStringLiteral("无法打开数据库文件：\n%1\n\n原因：%2\n\n程序将退出。")
                   .arg(QDir::toNativeSeparators(path), reason),
               MsgButtons::Ok, MsgIcon::Critical);
        delete port;
        return nullptr;
    }

    // Records still waiting for the database get their last chance when the
    // program ends.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { Module1::writer().close(); });

    auto *frame = new MDImain(port);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->show();
    if (folder.userLocation)
        frame->showStatus(QStringLiteral("程序所在文件夹不可写，数据保存在：%1")
                              .arg(QDir::toNativeSeparators(path)));
    frame->startMqtt();
    frame->openSavedPort();
    return frame;
}
