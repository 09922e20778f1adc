#pragma once

#include "records/RecordPages.h"

#include <QAbstractTableModel>

class LiteConnection;

// The records of the list, four columns (地址, 采集时间, 温度, 湿度), as a window
// onto them: the model's rows are the stretch of records the view has on
// screen (from windowTop() on), read page by page from the database. A view
// keeps some bytes per model row, and a list of a hundred million records
// would not fit its pixel positions either; the window keeps both as small
// as the screen whatever the number of records.
class RecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordModel(LiteConnection &conn, QObject *parent = nullptr);

    // The whole list: replaced, or grown by the rows its pass has counted.
    // `keepPlace`: the same query read again, shown from the same record on.
    void setIndex(RecordIndex index, bool keepPlace = false);
    void grow(qint64 rows, qint64 lastId, const std::vector<qint64> &moreStarts);
    const RecordIndex &recordIndex() const { return pages_.index(); }
    qint64 totalRows() const { return pages_.rows(); }
    // A cell of record `row` (0 = the first listed), whether on screen or not.
    QString cell(qint64 row, int column) const { return pages_.cell(row, column); }
    const RecordPages &pages() const { return pages_; }

    // The stretch on screen: up to `count` records from record `top` on (top
    // is kept between 0 and the last record).
    void setWindow(qint64 top, int count);
    qint64 windowTop() const { return top_; }
    int windowSize() const { return count_; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    static QStringList headers();

Q_SIGNALS:
    // The number of listed records changed.
    void totalChanged(qint64 rows);
    // Another list took the place of the one shown (setIndex).
    void listReplaced(bool keepPlace);

private:
    int rowsShown() const;
    qint64 clampTop(qint64 top) const;

    mutable RecordPages pages_;
    qint64 top_ = 0;
    int count_ = 64;
};
