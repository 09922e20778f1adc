#pragma once

#include "records/PagedListModel.h"

#include <QString>

class PassControl;

// What an export came to.
struct CsvResult {
    qint64 rows = 0;  // records written
    QString error;    // empty unless it failed
    bool cancelled = false;
};

// Writes the listed records (the rows of `index`, read again from the database
// file at `databasePath` in one pass) to a CSV file that spreadsheet
// programs open (CsvFile): the header line 地址,采集时间,温度,湿度, then one
// line per record with the cells as the list shows them. Nothing is left
// under `path` when the export fails or is cancelled. Runs on the calling
// thread.
CsvResult exportCsv(const QString &databasePath, const PageIndex &index, const QString &path,
                    PassControl &control);
