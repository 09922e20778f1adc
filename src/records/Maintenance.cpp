#include "records/Maintenance.h"

#include "records/FilterText.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {
const QString kFirstTimeBox = QStringLiteral("将此时间之前的数据删除");
const QString kSecondTimeBox = QStringLiteral("将此时间之后的数据删除");
const QString kModuleBox = QStringLiteral("以上操作只对模块");
}  // namespace

QString DeletionConditions::click(DeletionBox box, bool ticked, const Texts &texts) {
    if (box == DeletionBox::Module) {
        if (!ticked) {
            sqladr_ = sql::allModulesCondition();
            address_.clear();
            return {};
        }
        if (QString e = filtertext::checkAddress(texts.address, kModuleBox); !e.isEmpty())
            return e;
        address_ = texts.address.trimmed();
        sqladr_ = sql::moduleCondition(address_);
        return {};
    }
    // The box's earlier condition, if any, goes: it is either gone now, or
    // fixed anew and the last clicked.
    const auto previous = std::find_if(ticked_.begin(), ticked_.end(),
                                       [box](const TimeCondition &c) { return c.box == box; });
    if (!ticked) {
        if (previous != ticked_.end())
            ticked_.erase(previous);
        return {};
    }
    QString error;
    if (box != DeletionBox::After)
        error = filtertext::checkTime(texts.first, kFirstTimeBox);
    if (error.isEmpty() && box != DeletionBox::Before)
        error = filtertext::checkTime(texts.second, kSecondTimeBox);
    if (!error.isEmpty())
        return error;
    if (previous != ticked_.end())
        ticked_.erase(previous);
    const QString first = texts.first.trimmed();
    const QString second = texts.second.trimmed();
    switch (box) {
        case DeletionBox::Before:
            ticked_.append(
                {box, sql::deleteBeforeCondition(first), first + QStringLiteral("之前")});
            break;
        case DeletionBox::After:
            ticked_.append(
                {box, sql::deleteAfterCondition(second), second + QStringLiteral("之后")});
            break;
        default:
            ticked_.append({box, sql::deleteBetweenCondition(first, second),
                            first + QStringLiteral("到") + second + QStringLiteral("之间")});
            break;
    }
    return {};
}

void DeletionConditions::reset() {
    sqladr_ = sql::allModulesCondition();
    address_.clear();
    ticked_.clear();
}

QString DeletionConditions::sqltime() const {
    return ticked_.isEmpty() ? QString() : ticked_.constLast().sql;
}

QString DeletionConditions::statement() const {
    return sql::deleteRecords(sqladr_, sqltime());
}

QString DeletionConditions::question() const {
    QString q = QStringLiteral("确认将删除数据库中");
    if (!address_.isEmpty())
        q += QStringLiteral("模块") + address_;
    if (!ticked_.isEmpty())
        q += (address_.isEmpty() ? QString() : QStringLiteral("在")) + ticked_.constLast().phrase;
    return q + QStringLiteral("的温湿度数据？");
}

bool deleteRecords(LiteConnection &db, const DeletionConditions &conditions, QString *error) {
    if (db.Execute(conditions.statement()))
        return true;
    if (error)
        *error = db.lastError();
    return false;
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
