#pragma once

#include "records/RecordStats.h"
#include "records/RecordTable.h"

#include <QString>

class LiteConnection;

// One run of the record query: every row into compact storage and the
// summary figures in the same pass. Reads the result by position: 1 adr,
// 2 mydate, 3 temp, 4 hum.
struct RecordLoad {
    RecordTable table;
    RecordStats stats;
    QString error;  // empty on success
    bool ok() const { return error.isEmpty(); }
};

RecordLoad loadRecords(LiteConnection &conn, const QString &sql);
