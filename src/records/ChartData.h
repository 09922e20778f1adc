#pragma once

#include "records/ChartGeometry.h"

#include <QString>

#include <unordered_map>
#include <vector>

class LiteConnection;

// What one redraw reads from the record query: the number of records, the
// time of each (for the readout, eight bytes a record) and both curves thinned
// to the pixel columns of the plot.
struct ChartData {
    qsizetype count = 0;
    chart::Decimator hum;
    chart::Decimator temp;
    QString error;  // empty when both passes ran

    // The time of record k as the database holds it; empty outside 0..count-1.
    QString timeAt(qsizetype k) const;

    std::vector<qint64> times;  // packed (recordtime), kOddTime for oddTimes
    std::unordered_map<qsizetype, QString> oddTimes;
};

// Runs `sql` twice: a count of its rows, then one pass that takes time,
// temperature and humidity (positions 2, 3, 4) of every row. Record k lies at
// pixel x = k * pixelWidth / count.
ChartData loadChart(LiteConnection &conn, const QString &sql, double pixelWidth);

// The number of rows of `sql`, counted by the database itself where it can.
// -1 on failure, with the reason in *error.
qint64 countRows(LiteConnection &conn, const QString &sql, QString *error);
