#pragma once

#include "store/LiteConnection.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

// A database file in a fresh temporary directory, with the program's tables.
class TestDatabase {
public:
    // Opens `conn` on <tmp>/mydb.db and creates the tables.
    explicit TestDatabase(LiteConnection &conn);

    QString dir() const { return tmp_.path(); }
    QString path() const;

    // Runs a statement and fails the current test when it fails.
    void exec(const QString &sql);
    // The rows of a query, each as the list of its column values.
    QList<QVariantList> rows(const QString &sql);
    // The first column of the first row.
    QVariant scalar(const QString &sql);

    // Goes on with `conn`, already open on this file (the program's own).
    void useConnection(LiteConnection &conn) { conn_ = &conn; }

    // Registers a module the way the bus search does.
    void addModule(int address, const QString &model = QStringLiteral("0007"));
    // Opens `other` on this file and holds it exclusively, as another
    // program would; ROLLBACK on `other` lets it go.
    bool holdExclusively(LiteConnection &other) const;
    // Stores a record with a fixed time.
    void addRecord(int address, const QString &time, const QString &temp, const QString &hum);

private:
    QTemporaryDir tmp_;
    LiteConnection *conn_;
};
