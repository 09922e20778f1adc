#include "records/RecordPages.h"

#include "records/RecordLoader.h"
#include "records/RecordScan.h"

void RecordPages::setIndex(RecordIndex index) {
    index_ = std::move(index);
    kept_.clear();
}

void RecordPages::grow(qint64 rows, qint64 lastId, const std::vector<qint64> &moreStarts) {
    // The page that was last so far may hold more rows now.
    const qint64 lastPage = index_.rows > 0 ? (index_.rows - 1) / index_.pageRows : -1;
    kept_.remove_if([lastPage](const Kept &k) { return k.page >= lastPage; });
    index_.pageStarts.insert(index_.pageStarts.end(), moreStarts.begin(), moreStarts.end());
    index_.rows = rows;
    index_.lastId = lastId;
}

QString RecordPages::cell(qint64 row, int column) {
    if (row < 0 || row >= index_.rows)
        return {};
    return page(row / index_.pageRows).cell(row % index_.pageRows, column);
}

const RecordTable &RecordPages::page(qint64 p) {
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (it->page == p) {
            kept_.splice(kept_.begin(), kept_, it);
            return kept_.front().rows;
        }
    }
    if (qsizetype(kept_.size()) >= kKeptPages)
        kept_.pop_back();
    kept_.push_front({p, RecordTable()});
    if (p >= 0 && p < qint64(index_.pageStarts.size())) {
        const qint64 first = index_.pageStarts[size_t(p)];
        const qint64 last = p + 1 < qint64(index_.pageStarts.size())
                                ? index_.pageStarts[size_t(p + 1)] - 1
                                : index_.lastId;
        // A page that cannot be read (the table gone meanwhile) stays empty
        // until the list is read again.
        RecordLoad load = loadRecords(
            conn_, recordsql::rowsBetween(index_.statement, index_.idColumn, first, last));
        ++pagesRead_;
        if (load.ok())
            kept_.front().rows = std::move(load.table);
    }
    return kept_.front().rows;
}
