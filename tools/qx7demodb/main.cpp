// qx7demodb DIR [--modules 1,2,3]
//
// Creates DIR/mydb.db for a demonstration on the simulated bus: the
// program's tables with the given modules registered (model 0007, as the bus
// search would add them). An existing DIR/mydb.db is never touched: the
// file is built under another name and only then moved into place, and only
// when no mydb.db has appeared meanwhile.

#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {
int fail(const QString &text) {
    std::fprintf(stderr, "qx7demodb: %s\n", qPrintable(text));
    return 1;
}

// The tables and the modules in a new file; the reason when that fails.
QString build(const QString &path, const QStringList &modules) {
    LiteConnection db;
    QString error;
    if (!db.Open(path) || !schema::ensure(db, &error))
        return error + db.lastError();
    for (const QString &m : modules) {
        if (!db.Execute(sql::insertModule(m.trimmed(), QStringLiteral("0007"))))
            return db.lastError();
    }
    db.Close();
    return {};
}
}  // namespace

int main(int argc, char *argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    QStringList modules{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
    if (args.size() == 3 && args[1] == QLatin1String("--modules"))
        modules = args[2].split(QLatin1Char(','));
    else if (args.size() != 1 || args[0].startsWith(QLatin1Char('-'))) {
        std::fputs(
            "Usage: qx7demodb DIR [--modules 1,2,3]\n"
            "Creates DIR/mydb.db with the modules registered, unless it exists.\n",
            stderr);
        return 2;
    }
    for (const QString &m : modules) {
        bool ok = false;
        const int address = m.toInt(&ok);
        if (!ok || address < 1 || address > 247)
            return fail(QStringLiteral("bad module address %1").arg(m));
    }

    const QDir dir(args[0]);
    if (!dir.exists())
        return fail(QStringLiteral("no directory %1").arg(args[0]));
    const QString path = dir.absoluteFilePath(QString::fromLatin1(schema::kDatabaseFile));
    if (QFile::exists(path)) {
        std::printf("kept %s\n", qPrintable(QDir::toNativeSeparators(path)));
        return 0;
    }

    const QString building = path + QStringLiteral(".new");
    QFile::remove(building);
    const QString error = build(building, modules);
    if (!error.isEmpty()) {
        QFile::remove(building);
        return fail(QStringLiteral("cannot create %1: %2").arg(building, error));
    }
    // QFile::rename never replaces an existing file.
    if (!QFile::rename(building, path)) {
        QFile::remove(building);
        return fail(QStringLiteral("%1 appeared meanwhile; left as it is").arg(path));
    }
    std::printf("created %s with modules %s\n", qPrintable(QDir::toNativeSeparators(path)),
                qPrintable(modules.join(QLatin1Char(','))));
    return 0;
}
