#pragma once

#include "records/RecordPages.h"
#include "records/RecordScan.h"
#include "records/RecordStats.h"

#include <mutex>

class PassControl;

// How far a list pass has come, as the window takes it while the pass runs:
// the rows counted so far and the starts of the pages it did not have yet.
struct IndexGrowth {
    int generation = 0;  // changes when the pass starts over from its first row
    QString idColumn;
    qint64 rows = 0;
    qint64 lastId = 0;
    std::vector<qint64> moreStarts;
};

// One pass over the list's query: counts its rows, notes where each page of
// the list starts and sums up the statistics (RecordStats), all in one go.
// Takes the values of result positions 3 (temp) and 4 (hum).
class ListPass : public ScanVisitor {
public:
    explicit ListPass(int pageRows = kPageRows) : pageRows_(pageRows) {}

    static std::vector<int> positions() { return {3, 4}; }

    void row(qint64 id, const ScanValues &values) override;
    void sliceDone(qint64 lastId) override;
    void restart() override;

    // Safe from any thread: what the list can show beyond the first
    // `knownPages` page starts of generation `generation` (all of them when
    // the generation differs).
    IndexGrowth growth(int generation, size_t knownPages) const;
    void setIdColumn(const QString &idColumn);

    // When the pass has ended.
    const RecordStats &stats() const { return stats_; }
    qint64 rows() const { return stats_.count; }
    int pageRows() const { return pageRows_; }
    qint64 firstRowId() const { return firstRowId_; }
    qint64 lastRowId() const { return lastRowId_; }

private:
    int pageRows_;
    int inPage_ = 0;  // rows counted on the last page
    RecordStats stats_;
    qint64 firstRowId_ = 0;
    qint64 lastRowId_ = 0;
    std::vector<qint64> pending_;  // page starts of the slice under way

    mutable std::mutex mutex_;
    int generation_ = 0;
    QString idColumn_;
    std::vector<qint64> starts_;
    qint64 shownRows_ = 0;
    qint64 shownLastId_ = 0;
};

// What the list's pass found.
struct ListResult {
    QString error;  // empty when the whole query was read
    RecordIndex index;
    RecordStats stats;
    QString firstTime;  // mydate of the first and the last row, as cells show it
    QString lastTime;
};

// The list's pass over `statement` on the database file at `databasePath`,
// on the calling thread; `pass` hands on its growth meanwhile. Stops early
// when `control` is cancelled (the result is then not to be shown).
ListResult runListPass(const QString &databasePath, const QString &statement, ListPass &pass,
                       PassControl &control, qint64 sliceIds = RecordScan::kSliceIds);
