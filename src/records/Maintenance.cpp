#include "records/Maintenance.h"

#include "records/FilterText.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString DeletionConditions::click(int checkNumber, bool ticked, const Texts &texts) {
    if (checkNumber == 4) {
        if (!ticked) {
            sqladr_ = sql::allModulesCondition();
            return {};
        }
        if (QString e = filtertext::checkAddress(texts.address, QStringLiteral("Text3"));
            !e.isEmpty())
            return e;
        sqladr_ = sql::moduleCondition(texts.address.trimmed());
        return {};
    }
    if (checkNumber < 1 || checkNumber > 3)
        return {};
    if (!ticked) {
        sqltime_.clear();
        return {};
    }
    QString error;
    if (checkNumber != 2)
        error = filtertext::checkTime(texts.first, QStringLiteral("Text1"));
    if (error.isEmpty() && checkNumber != 1)
        error = filtertext::checkTime(texts.second, QStringLiteral("Text2"));
    if (!error.isEmpty())
        return error;
    const QString first = texts.first.trimmed();
    const QString second = texts.second.trimmed();
    if (checkNumber == 1)
        sqltime_ = sql::deleteBeforeCondition(first);
    else if (checkNumber == 2)
        sqltime_ = sql::deleteAfterCondition(second);
    else
        sqltime_ = sql::deleteBetweenCondition(first, second);
    return {};
}

void DeletionConditions::reset() {
    sqladr_ = sql::allModulesCondition();
    sqltime_.clear();
}

QString DeletionConditions::statement() const {
    return sql::deleteRecords(sqladr_, sqltime_);
}

QString deletionQuestion(bool moduleTicked, const QString &addressText) {
    QString q = QStringLiteral("确认将删除数据库中");
    if (moduleTicked)
        q += QStringLiteral("模块") + addressText;
    return q + QStringLiteral("的温湿度数据？");
}

QString backupFileName(const QDateTime &localTime) {
    return localTime.toString(QStringLiteral("yyyy.MM.dd_HH.mm.ss_")) +
           QString::fromLatin1(schema::kDatabaseFile);
}

BackupResult backupDatabase(LiteConnection &conn, const QString &databasePath,
                            const QDateTime &localTime) {
    BackupResult r;
    const QFileInfo db(databasePath);
    const QDir backupDir(db.absoluteDir().filePath(QStringLiteral("backup")));
    r.target = backupDir.filePath(backupFileName(localTime));

    conn.Close();
    if (!QFileInfo(backupDir.path()).isDir()) {
        r.outcome = BackupResult::MissingDirectory;
    } else {
        QFile::remove(r.target);  // a copy of the same second is replaced
        QFile source(databasePath);
        if (!source.copy(r.target)) {
            r.outcome = BackupResult::CopyFailed;
            r.detail = source.errorString();
        }
    }
    if (!conn.Open(databasePath)) {
        r.outcome = BackupResult::ReopenFailed;
        r.detail = conn.lastError();
    }
    return r;
}
