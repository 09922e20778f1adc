#pragma once

#include "records/PagedListModel.h"
#include "records/RecordStats.h"
#include "store/RowScan.h"

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

// One pass over a list's query that counts its rows and notes where each page
// of the list starts, handing both on slice by slice while it runs.
class IndexPass : public RowSink {
public:
    explicit IndexPass(int pageRows = kPageRows) : pageRows_(pageRows) {}

    void row(qint64 id, const ScanValue *) override { note(id); }
    void sliceDone(qint64 lastId) override;
    void restart() override;

    // Safe from any thread: what the list can show beyond the first
    // `knownPages` page starts of generation `generation` (all of them when
    // the generation differs).
    IndexGrowth growth(int generation, size_t knownPages) const;
    void setIdColumn(const QString &idColumn);

    // When the pass has ended.
    qint64 rows() const { return rows_; }
    int pageRows() const { return pageRows_; }
    qint64 firstRowId() const { return firstRowId_; }
    qint64 lastRowId() const { return lastRowId_; }

protected:
    void note(qint64 id) {
        if (inPage_ == 0)
            pending_.push_back(id);
        if (++inPage_ == pageRows_)
            inPage_ = 0;
        if (rows_ == 0)
            firstRowId_ = id;
        lastRowId_ = id;
        ++rows_;
    }

private:
    int pageRows_;
    int inPage_ = 0;  // rows counted on the last page
    qint64 rows_ = 0;
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

// The record list's pass: the page index and, in the same go, the statistics
// (RecordStats). Takes the values of result positions 3 (temp) and 4 (hum).
class ListPass : public IndexPass {
public:
    using IndexPass::IndexPass;
    static std::vector<int> positions() { return {3, 4}; }

    void row(qint64 id, const ScanValue *values) override {
        note(id);
        stats_.temp.add(values[0]);
        stats_.hum.add(values[1]);
        ++stats_.count;
    }
    void restart() override;
    const RecordStats &stats() const { return stats_; }

private:
    RecordStats stats_;
};

// What an index pass found.
struct IndexResult {
    QString error;  // empty when the whole query was read
    PageIndex index;
};

// An index pass over `statement` (whose rows are those of `table`) on the
// database file at `databasePath`, on the calling thread; `pass` hands on its
// growth meanwhile and receives the values of `positions`. Stops early when
// `control` is cancelled (the result is then not to be shown).
IndexResult runIndexPass(const QString &databasePath, const QString &statement,
                         const QString &table, IndexPass &pass, const std::vector<int> &positions,
                         PassControl &control, qint64 sliceIds = RowScan::kSliceIds);

// What the record list's pass found.
struct ListResult {
    QString error;  // empty when the whole query was read
    PageIndex index;
    RecordStats stats;
    QString firstTime;  // mydate of the first and the last row, as cells show it
    QString lastTime;
};

// The record list's pass over `statement` (a query of th).
ListResult runListPass(const QString &databasePath, const QString &statement, ListPass &pass,
                       PassControl &control, qint64 sliceIds = RowScan::kSliceIds);

// The list in `model` follows `pass` while it runs: the rows counted beyond
// those shown, and a new list when the pass started over (`generation` is the
// pass's generation the model shows; a model without rows of `statement`'s
// pass yet starts the list).
void takeGrowth(PagedListModel &model, const IndexPass &pass, const QString &statement,
                int *generation);
// The complete index of the pass that `model` followed: grown into when the
// rows shown are its beginning, so that the list keeps its place.
void completeIndex(PagedListModel &model, PageIndex index);
