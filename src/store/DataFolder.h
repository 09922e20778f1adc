#pragma once

#include <QString>

// The folder that holds mydb.db and backup/.
struct DataFolder {
    QString path;               // absolute; empty when no folder could be had
    bool userLocation = false;  // the user's data location, not a folder asked for or the program's
    QString error;              // why there is no folder

    bool ok() const { return !path.isEmpty(); }
};

// Chooses the data folder:
// - `requested` (the command line's --data DIR) when it is not empty; it is
//   created when missing;
// - otherwise `programDir`, the folder of the executable, when a file can be
//   created in it (a copy unpacked anywhere keeps its data beside itself);
// - otherwise the user's data location, created when missing: Qt's
//   QStandardPaths::AppDataLocation of the desktop program, qx7daq
//   (~/.local/share/qx7daq on Linux, %APPDATA%\qx7daq on Windows), whichever
//   program asks, so that the logger and the desktop program find the same
//   file.
// `programDir` empty means QCoreApplication::applicationDirPath().
DataFolder chooseDataFolder(const QString &requested, const QString &programDir = QString());

// The user's data location described above (not created here).
QString userDataLocation();

// A new database in a folder shared through its group (one with the
// set-group-ID bit, as the logger service's /var/lib/qx7logger) gets the
// group rights of the folder, so that the other members, the service among
// them, can write it as well. Elsewhere, and on Windows, nothing changes.
void shareWithFolderGroup(const QString &file);
