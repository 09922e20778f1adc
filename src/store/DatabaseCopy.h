#pragma once

#include <QString>

#include <functional>

// Copies a database file that other programs may be writing to. The copy is
// read within one read of the file (SQLite's online backup inside a read
// transaction), so no commit lands half-way through it: in the
// rollback-journal mode of the program's files the read keeps every writer's
// commit waiting until the copy is done; in WAL mode the copy is the file as
// it stood when the read began. The copy goes to a temporary file beside
// `target` and is put in its place, replacing a file of that name, only when
// it is whole.
//
// `cancelled` stops it early (nothing is left behind); `progress` hears how far
// it came in per mille. False, with what failed in *error, when the copy was
// not made (cancelled: an empty error).
bool copyDatabase(const QString &source, const QString &target,
                  const std::function<bool()> &cancelled,
                  const std::function<void(int permille)> &progress, QString *error);
