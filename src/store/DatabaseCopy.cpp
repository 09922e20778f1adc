#include "store/DatabaseCopy.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Pages copied per step: a few megabytes between looks at a cancel.
constexpr int kPagesPerStep = 1024;

// Puts `from` in place of `to` in one step, over a file of that name; the
// reason when it cannot. (Windows' rename() refuses an existing target.)
QString replaceFile(const QString &from, const QString &to) {
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<LPCWSTR>(from.utf16()), reinterpret_cast<LPCWSTR>(to.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return QStringLiteral("无法替换文件（错误%1）").arg(GetLastError());
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return {};
    return QString::fromLocal8Bit(std::strerror(errno));
#endif
}

struct Closer {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, Closer>;

QString said(sqlite3 *db, int rc) {
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
}

struct Waiting {
    const std::function<bool()> *cancelled;
};

// A writer's commit takes a moment: wait for it (up to half a minute), unless
// the copy is cancelled meanwhile.
int busy(void *waiting, int tries) {
    const auto *w = static_cast<const Waiting *>(waiting);
    if ((*w->cancelled && (*w->cancelled)()) || tries >= 3000)
        return 0;
    sqlite3_sleep(10);
    return 1;
}

}  // namespace

bool copyDatabase(const QString &source, const QString &target,
                  const std::function<bool()> &cancelled, const std::function<void(int)> &progress,
                  QString *error) {
    auto fail = [error](const QString &what) {
        if (error)
            *error = what;
        return false;
    };
    if (!QFileInfo(source).isFile())
        return fail(QStringLiteral("%1: no such file").arg(source));

    // Read-write, so that a journal left by a writer that died is rolled back
    // before the copy reads the file; nothing else is written.
    sqlite3 *raw = nullptr;
    int rc = sqlite3_open_v2(source.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    Db from(raw);
    if (rc != SQLITE_OK)
        return fail(said(raw, rc));
    Waiting waiting{&cancelled};
    sqlite3_busy_handler(from.get(), &busy, &waiting);
    // The read that holds the file still for the copy.
    rc = sqlite3_exec(from.get(), "BEGIN; SELECT count(*) FROM sqlite_master", nullptr, nullptr,
                      nullptr);
    if (rc != SQLITE_OK)
        return fail(cancelled && cancelled() ? QString() : said(from.get(), rc));

    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    raw = nullptr;
    rc = sqlite3_open_v2(part.toUtf8().constData(), &raw,
                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Db to(raw);
    if (rc != SQLITE_OK) {
        QString what = said(raw, rc);
        to.reset();
        QFile::remove(part);
        return fail(what);
    }
    sqlite3_backup *backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (!backup) {
        const QString what = said(to.get(), SQLITE_ERROR);
        to.reset();
        QFile::remove(part);
        return fail(what);
    }
    bool stopped = false;
    do {
        rc = sqlite3_backup_step(backup, kPagesPerStep);
        const int pages = sqlite3_backup_pagecount(backup);
        if (progress && pages > 0)
            progress(int(1000LL * (pages - sqlite3_backup_remaining(backup)) / pages));
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            sqlite3_sleep(10);
        stopped = cancelled && cancelled();
    } while (!stopped && (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED));
    sqlite3_backup_finish(backup);
    const QString what = said(to.get(), rc);
    const bool whole = rc == SQLITE_DONE && !stopped;
    rc = to.get() ? sqlite3_close(to.release()) : SQLITE_OK;
    sqlite3_exec(from.get(), "COMMIT", nullptr, nullptr, nullptr);
    from.reset();
    if (!whole || rc != SQLITE_OK) {
        QFile::remove(part);
        return fail(stopped ? QString() : what);
    }
    // In place at once, over a file of the same name.
    if (const QString why = replaceFile(part, target); !why.isEmpty()) {
        QFile::remove(part);
        return fail(why);
    }
    return true;
}
