#include "store/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {
// The application name that decides the user's data location.
constexpr auto kDesktopProgram = "qx7daq";

// Whether a file can be created in the folder: what the database needs for
// itself, its journal and backup/. (Asking the file system for the folder's
// permissions says yes to root even where nothing can be created.)
bool canCreateFiles(const QString &dir) {
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".qx7probe-XXXXXX")));
    return probe.open();
}

// The folder, created when missing; a new user location gets its backup/
// as well, where 数据库备份 puts its copies.
DataFolder madeFolder(const QString &dir, bool userLocation) {
    DataFolder out;
    const QString path = QDir(dir).absolutePath();
    if (!QDir().mkpath(path) ||
        (userLocation && !QDir().mkpath(QDir(path).filePath(QStringLiteral("backup"))))) {
        out.error = QStringLiteral("无法创建数据文件夹 %1").arg(QDir::toNativeSeparators(path));
        return out;
    }
    out.path = path;
    out.userLocation = userLocation;
    return out;
}
}  // namespace

QString userDataLocation() {
    // AppDataLocation follows the running application's name; the logger
    // asks for the desktop program's.
    const QString own = QCoreApplication::applicationName();
    const bool other = own != QLatin1String(kDesktopProgram);
    if (other)
        QCoreApplication::setApplicationName(QString::fromLatin1(kDesktopProgram));
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (other)
        QCoreApplication::setApplicationName(own);
    return path;
}

DataFolder chooseDataFolder(const QString &requested, const QString &programDir) {
    if (!requested.isEmpty())
        return madeFolder(requested, false);
    const QString own = programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir;
    if (canCreateFiles(own))
        return madeFolder(own, false);
    const QString user = userDataLocation();
    if (user.isEmpty()) {
        DataFolder out;
        out.error = QStringLiteral("程序所在文件夹 %1 不可写，且没有用户数据文件夹")
                        .arg(QDir::toNativeSeparators(QDir(own).absolutePath()));
        return out;
    }
    return madeFolder(user, true);
}

void shareWithFolderGroup(const QString &file) {
#ifndef Q_OS_WIN
    const QByteArray path = QFile::encodeName(file);
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    struct stat dir {};
    struct stat own {};
    if (::stat(folder.constData(), &dir) != 0 || !(dir.st_mode & S_ISGID) ||
        ::stat(path.constData(), &own) != 0)
        return;
    const mode_t group = dir.st_mode & (S_IRGRP | S_IWGRP);
    if ((own.st_mode & group) != group)
        ::chmod(path.constData(), (own.st_mode & 07777) | group);
#else
    Q_UNUSED(file);
#endif
}
