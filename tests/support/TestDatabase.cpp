#include "support/TestDatabase.h"

#include "store/Schema.h"
#include "store/Statements.h"

#include <QDir>
#include <QTest>

TestDatabase::TestDatabase(LiteConnection &conn) : conn_(&conn) {
    QString error;
    if (!conn_->Open(path()) || !schema::ensure(*conn_, &error))
        qFatal("cannot create test database %s: %s", qPrintable(path()),
               qPrintable(error + conn_->lastError()));
}

QString TestDatabase::path() const {
    return QDir(tmp_.path()).filePath(QStringLiteral("mydb.db"));
}

void TestDatabase::exec(const QString &sql) {
    if (!conn_->Execute(sql))
        QFAIL(qPrintable(sql + QStringLiteral(": ") + conn_->lastError()));
}

QList<QVariantList> TestDatabase::rows(const QString &sql) {
    QList<QVariantList> out;
    LiteStatement st = conn_->prepare(sql);
    if (!st.isValid()) {
        qWarning("%s: %s", qPrintable(sql), qPrintable(st.error()));
        return out;
    }
    st.Step();
    while (!st.done()) {
        QVariantList row;
        for (int i = 0; i < st.columnCount(); ++i) row << st.value(i);
        out << row;
        st.Step();
    }
    return out;
}

QVariant TestDatabase::scalar(const QString &sql) {
    const auto r = rows(sql);
    return r.isEmpty() || r.first().isEmpty() ? QVariant() : r.first().first();
}

bool TestDatabase::holdExclusively(LiteConnection &other) const {
    return other.Open(path()) && other.Execute(QStringLiteral("BEGIN EXCLUSIVE"));
}

void TestDatabase::addModule(int address, const QString &model) {
    exec(sql::insertModule(QString::number(address), model));
}

void TestDatabase::addRecord(int address, const QString &time, const QString &temp,
                             const QString &hum) {
    exec(QStringLiteral("insert into th ('adr','mydate','temp','hum') values ('%1','%2','%3','%4')")
             .arg(address)
             .arg(time, temp, hum));
}
