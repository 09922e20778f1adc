#pragma once

#include <QString>

class RecordTable;

// Writes the listed records to a CSV file that spreadsheet programs open with
// the Chinese headers intact: UTF-8 with a byte order mark, a header line
// (地址,采集时间,温度,湿度), one line per record with the cells as the list
// shows them, CRLF line ends. The file appears whole or not at all. Returns an
// empty text on success, otherwise what failed.
QString exportCsv(const RecordTable &table, const QString &path);

// One field as CSV writes it: quoted when it holds a comma, a quote or a line
// break, with its quotes doubled.
QByteArray csvField(const QByteArray &utf8);
