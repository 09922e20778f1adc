#pragma once

#include "store/RowScan.h"

#include <QAbstractTableModel>
#include <QString>

#include <list>
#include <memory>
#include <vector>

// Rows of a list per page: a list reads one page at a time.
inline constexpr int kPageRows = 256;

// What a list knows of its query without holding its rows: where each page
// starts. Page p holds the rows of the query with ids from pageStarts[p] up to
// the next page's start (the last page: up to lastId), in id order.
struct PageIndex {
    QString statement;
    QString idColumn;  // the row key's name, quoted
    int pageRows = kPageRows;
    std::vector<qint64> pageStarts;  // ids of rows 0, pageRows, 2 pageRows, ...
    qint64 rows = 0;
    qint64 lastId = 0;  // the listed rows are those of the query with ids up to this

    // The ids of page p: first and last.
    std::pair<qint64, qint64> pageIds(qint64 p) const;
};

// The last few pages of a list, kept: a page is read when first asked for.
template <class Page>
class KeptPages {
public:
    static constexpr int kKept = 8;

    // Page p of `index`, from read(firstId, lastId) unless it is kept.
    template <class Read>
    const Page &get(const PageIndex &index, qint64 p, const Read &read) {
        for (auto it = kept_.begin(); it != kept_.end(); ++it) {
            if (it->page == p) {
                kept_.splice(kept_.begin(), kept_, it);
                return kept_.front().rows;
            }
        }
        if (qsizetype(kept_.size()) >= kKept)
            kept_.pop_back();
        kept_.push_front({p, Page()});
        if (p >= 0 && p < qint64(index.pageStarts.size())) {
            const auto [first, last] = index.pageIds(p);
            kept_.front().rows = read(first, last);
            ++read_;
        }
        return kept_.front().rows;
    }
    // Forgets the pages from `page` on.
    void dropFrom(qint64 page) {
        kept_.remove_if([page](const Kept &k) { return k.page >= page; });
    }
    // Pages read from the database so far.
    int pagesRead() const { return read_; }

private:
    struct Kept {
        qint64 page;
        Page rows;
    };
    std::list<Kept> kept_;  // the last used first
    int read_ = 0;
};

// Reads the pages of a list on the window's thread: a scan of the list's
// query (RowScan), opened when first needed for an index. It waits for a file
// held by another program no longer than a moment; a page that cannot be
// read stays empty until the list is read again.
class PageScan {
public:
    PageScan(QString databasePath, QString table, std::vector<int> positions)
        : path_(std::move(databasePath)),
          table_(std::move(table)),
          positions_(std::move(positions)) {}
    // The rows of `index` with ids first .. last to `sink`.
    bool read(const PageIndex &index, qint64 first, qint64 last, RowSink &sink);
    // The scan's connection (null before the first read).
    LiteConnection *connection() { return scan_ ? &scan_->connection() : nullptr; }

private:
    QString path_;
    QString table_;
    std::vector<int> positions_;
    QString statement_;
    std::unique_ptr<RowScan> scan_;
};

// A list of any length as a model that is a window onto it: the model's rows
// are the stretch of the list on screen (from windowTop() on), read page by
// page. A view keeps some bytes per model row, and a list of a hundred
// million rows would not fit its pixel positions either; the window keeps
// both as small as the screen whatever the length of the list.
class PagedListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // The whole list: replaced, or grown by the rows its pass has counted.
    // `keepPlace`: the same query read again, shown from the same row on.
    void setIndex(PageIndex index, bool keepPlace = false);
    void grow(qint64 rows, qint64 lastId, const std::vector<qint64> &moreStarts);
    const PageIndex &pageIndex() const { return index_; }
    qint64 totalRows() const { return index_.rows; }

    // The text of a cell of list row `row` (0 = the first), whether on
    // screen or not; empty outside the rows.
    virtual QString cell(qint64 row, int column) const = 0;
    virtual QStringList headers() const = 0;

    // The stretch on screen: up to `count` rows from row `top` on (top is
    // kept between 0 and the last row).
    void setWindow(qint64 top, int count);
    qint64 windowTop() const { return top_; }
    int windowSize() const { return count_; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // The number of listed rows changed.
    void totalChanged(qint64 rows);
    // Another list took the place of the one shown (setIndex).
    void listReplaced(bool keepPlace);

protected:
    // Roles other than the text of a cell (colours, alignment).
    virtual QVariant cellRole(qint64 row, int column, int role) const { return {}; }
    // The pages from `page` on may have changed: read them again when asked.
    virtual void dropPages(qint64 page) = 0;

private:
    int rowsShown() const;
    qint64 clampTop(qint64 top) const;

    PageIndex index_;
    qint64 top_ = 0;
    int count_ = 64;
};
