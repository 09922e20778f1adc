#include "store/PendingRecords.h"

#include "store/LiteConnection.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace pendingrecords {

namespace {
const QString kStatements = QStringLiteral("statements");
}

QString pathFor(const QString &databasePath) {
    return databasePath + QStringLiteral("-pending.json");
}

bool read(const QString &file, QStringList *statements, QString *error) {
    statements->clear();
    QFile f(file);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("文件内容无效：") + parse.errorString();
        return false;
    }
    const QJsonArray list = doc.object().value(kStatements).toArray();
    for (const QJsonValue &v : list) {
        if (v.isString())
            statements->append(v.toString());
    }
    return true;
}

bool keep(const QString &file, const QStringList &statements, QString *error) {
    QStringList all;
    if (!read(file, &all, error))
        return false;
    all += statements;
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = f.errorString();
        return false;
    }
    QJsonObject root;
    root.insert(kStatements, QJsonArray::fromStringList(all));
    f.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!f.commit()) {
        *error = f.errorString();
        return false;
    }
    return true;
}

bool storeInto(LiteConnection &db, const QString &file, int *stored, QString *error) {
    *stored = 0;
    QStringList statements;
    if (!read(file, &statements, error))
        return false;
    if (!QFile::exists(file))
        return true;
    if (!statements.isEmpty() && !executeTogether(db, statements, error))
        return false;
    if (!QFile::remove(file)) {
        // Stored: a file left behind would store them twice. Emptied instead.
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = f.errorString();
            return false;
        }
        f.write("{\"statements\": []}\n");
    }
    *stored = int(statements.size());
    return true;
}

}  // namespace pendingrecords
