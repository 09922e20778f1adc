#include "records/Maintenance.h"

#include "records/BackgroundPass.h"
#include "records/FilterText.h"
#include "store/DatabaseCopy.h"
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

bool deleteRecords(const QString &databasePath, const DeletionConditions &conditions,
                   QString *error) {
    LiteConnection db;
    if (QFileInfo(databasePath).isFile() && db.Open(databasePath)) {
        // The acquisition's writer or another program may be in the middle
        // of a write: wait for it rather than fail.
        db.setBusyTimeout(10000);
        if (db.Execute(conditions.statement()))
            return true;
    }
    if (error)
        *error = db.lastError().isEmpty() ? databasePath : db.lastError();
    return false;
}

QString backupFileName(const QDateTime &localTime) {
    return localTime.toString(QStringLiteral("yyyy.MM.dd_HH.mm.ss_")) +
           QString::fromLatin1(schema::kDatabaseFile);
}

BackupResult backupDatabase(const QString &databasePath, const QDateTime &localTime,
                            PassControl &control) {
    BackupResult r;
    const QFileInfo db(databasePath);
    const QDir backupDir(db.absoluteDir().filePath(QStringLiteral("backup")));
    r.target = backupDir.filePath(backupFileName(localTime));
    if (!QFileInfo(backupDir.path()).isDir()) {
        r.outcome = BackupResult::MissingDirectory;
        return r;
    }
    if (!copyDatabase(
            databasePath, r.target, [&control] { return control.cancelled(); },
            [&control](int permille) { control.setProgress(permille); }, &r.detail))
        r.outcome = r.detail.isEmpty() ? BackupResult::Cancelled : BackupResult::CopyFailed;
    return r;
}
