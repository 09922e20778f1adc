#pragma once

#include "records/RecordPages.h"

#include <QString>

class PassControl;

// What an export came to.
struct CsvResult {
    qint64 rows = 0;  // records written
    QString error;    // empty unless it failed
    bool cancelled = false;
};

// Writes the listed records (the rows of `index`, read again from the database
// file at `databasePath` a stretch at a time) to a CSV file that spreadsheet
// programs open with the Chinese headers intact: UTF-8 with a byte order mark,
// a header line (地址,采集时间,温度,湿度), one line per record with the cells as
// the list shows them, CRLF line ends. The file appears whole or not at all:
// nothing is left under `path` when the export fails or is cancelled. Runs on
// the calling thread.
CsvResult exportCsv(const QString &databasePath, const RecordIndex &index, const QString &path,
                    PassControl &control);

// One field as CSV writes it: quoted when it holds a comma, a quote or a line
// break, with its quotes doubled.
QByteArray csvField(const QByteArray &utf8);
