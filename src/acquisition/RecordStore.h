#pragma once

#include "acquisition/AcquisitionCycle.h"

#include <QList>
#include <QString>

class LiteConnection;

// Stores the records that fell due in one second, in one transaction: all of
// them or, when a statement fails (disk full, database locked), none. Nothing
// to store is a success without touching the database. On failure *error
// says what the database answered.
bool storeRecords(LiteConnection &db, const QList<DueRecord> &records, QString *error = nullptr);
