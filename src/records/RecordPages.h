#pragma once

#include "records/RecordTable.h"

#include <QString>

#include <list>
#include <vector>

class LiteConnection;

// Rows of the list per page: the list reads one page at a time.
inline constexpr int kPageRows = 256;

// What the list knows of its query without holding its rows: where each page
// starts. Page p holds the rows of the query with ids from pageStarts[p] up to
// the next page's start (the last page: up to lastId), in id order.
struct RecordIndex {
    QString statement;
    QString idColumn;  // the row key's name, quoted
    int pageRows = kPageRows;
    std::vector<qint64> pageStarts;  // ids of rows 0, pageRows, 2 pageRows, ...
    qint64 rows = 0;
    qint64 lastId = 0;  // the listed rows are those of the query with ids up to this
};

// The rows of an index, read page by page as they are asked for, with the
// few pages last used kept. Each cell reads exactly as the full query's
// would (RecordTable). Memory stays the same however many rows there are,
// apart from eight bytes per page for the index.
class RecordPages {
public:
    explicit RecordPages(LiteConnection &conn) : conn_(conn) {}

    // Replaces the index; every kept page goes.
    void setIndex(RecordIndex index);
    // More rows of the same query, as the pass that counts them gets further:
    // the starts of the pages after those known, the rows and the id the
    // listed rows now reach.
    void grow(qint64 rows, qint64 lastId, const std::vector<qint64> &moreStarts);

    const RecordIndex &index() const { return index_; }
    qint64 rows() const { return index_.rows; }
    // The text of a cell (RecordTable::Column), reading its page when needed;
    // empty outside the rows or when the page cannot be read.
    QString cell(qint64 row, int column);
    // Pages read from the database so far (for tests).
    int pagesRead() const { return pagesRead_; }

    static constexpr int kKeptPages = 8;

private:
    const RecordTable &page(qint64 p);

    LiteConnection &conn_;
    RecordIndex index_;
    struct Kept {
        qint64 page;
        RecordTable rows;
    };
    std::list<Kept> kept_;  // the last used first
    int pagesRead_ = 0;
};
