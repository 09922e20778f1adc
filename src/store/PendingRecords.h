#pragma once

#include <QString>
#include <QStringList>

class LiteConnection;

// Writes that could not be stored before the program ended wait in a file
// beside the database, and are stored first at the next start. Each is the
// statement that carries its own due time, so it lands with the second it
// fell due whenever it is stored.
namespace pendingrecords {

// The file that belongs to the database at `databasePath`.
QString pathFor(const QString &databasePath);

// Adds `statements` to the file (after those already waiting there). False,
// with the reason, when the file cannot be written: the statements are then
// lost, and the caller must say so.
bool keep(const QString &file, const QStringList &statements, QString *error);

// What the file holds; empty when there is no file. False, with the reason,
// when a file is there but cannot be read.
bool read(const QString &file, QStringList *statements, QString *error);

// Stores what the file holds in one transaction and removes the file. The
// number stored goes to *stored (0 without a file). On failure nothing is
// stored, the file stays as it is for the next try, and *error says why.
bool storeInto(LiteConnection &db, const QString &file, int *stored, QString *error);

}  // namespace pendingrecords
