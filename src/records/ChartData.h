#pragma once

#include "records/ChartGeometry.h"
#include "store/RowScan.h"

#include <QString>

#include <memory>
#include <vector>

class PassControl;

// What one redraw reads from the record query: the number of records and both
// curves thinned to the pixel columns of the plot. The time of a record is
// read when the readout asks for it: record k is row k % bucketRows of the
// query's rows from id bucketStarts[k / bucketRows] on.
struct ChartData {
    qsizetype count = 0;
    chart::Decimator hum;
    chart::Decimator temp;
    QString error;  // empty when the query was read

    QString statement;
    qint64 lastId = 0;
    qint64 bucketRows = 1;
    std::vector<qint64> bucketStarts;
};

// The chart's one pass over the query: positions 3 (temp) and 4 (hum) of
// every row. Record k lies at pixel x = k * pixelWidth / count, and the count
// is known only at the end, so the pass keeps, for stretches of records
// (buckets) that double in length as the records go on, the first, lowest,
// highest and last value of each curve: enough for every pixel column that a
// bucket lies in as a whole. The few buckets that straddle two columns in the
// end, or mix numbers with values that break a curve, are read once more in
// full. The curves are then exactly those of feeding every record to
// chart::Decimator, which draws the same pixels as joining every pair.
class ChartPass : public RowSink {
public:
    // At most `maxBuckets` buckets (an even number; 0: 64 per pixel column, so
    // that the buckets read twice are a small share of the records).
    explicit ChartPass(double pixelWidth, qsizetype maxBuckets = 0);

    static std::vector<int> positions() { return {3, 4}; }

    void row(qint64 id, const ScanValue *values) override;
    void restart() override;

    qsizetype count() const { return count_; }
    qint64 bucketRows() const { return bucketRows_; }

    // After the scan: the curves, reading again on `scan` what needs it.
    ChartData finish(RowScan &scan, PassControl &control);

    struct Point {
        qint64 k;
        double v;
    };
    // A curve over a bucket.
    struct Summary {
        enum State : quint8 { Empty, Numbers, Breaks, Mixed };
        State state = Empty;
        Point first{}, low{}, high{}, last{};
        void add(qint64 k, double v);
        // `later` follows this one directly.
        void merge(const Summary &later);
    };

private:
    struct Bucket {
        qint64 startId;
        Summary temp, hum;
    };
    void compact();

    double width_;
    qsizetype maxBuckets_;
    qint64 bucketRows_ = 1;
    qint64 inBucket_ = 0;  // rows in the last bucket
    qsizetype count_ = 0;
    std::vector<Bucket> buckets_;
};

// The chart's reading of `statement` on the database file at `databasePath`,
// on the calling thread, for a plot `pixelWidth` pixels wide.
ChartData loadChart(const QString &databasePath, const QString &statement, double pixelWidth,
                    PassControl &control, qint64 sliceIds = RowScan::kSliceIds,
                    qsizetype maxBuckets = 0);

// The times of the chart's records for the readout, read when asked for, on
// the window's thread.
class ChartTimes {
public:
    explicit ChartTimes(QString databasePath) : path_(std::move(databasePath)) {}
    // The time (position 2) of record k of `data` as the database holds it;
    // empty outside 0 .. count - 1.
    QString at(const ChartData &data, qsizetype k);

private:
    QString path_;
    QString statement_;
    std::unique_ptr<RowScan> scan_;
};
