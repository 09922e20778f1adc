#pragma once

#include "records/PagedListModel.h"
#include "records/RecordTable.h"

// The records of the list, four columns (地址, 采集时间, 温度, 湿度), read page
// by page from the database: each cell reads exactly as the full query's
// would (RecordTable). Memory stays the same however many records there are,
// apart from eight bytes per page for the index.
class RecordModel : public PagedListModel {
    Q_OBJECT
public:
    explicit RecordModel(const QString &databasePath, QObject *parent = nullptr);

    QString cell(qint64 row, int column) const override;
    QStringList headers() const override { return columnHeaders(); }
    static QStringList columnHeaders();
    // Pages read from the database so far (for tests).
    int pagesRead() const { return pages_.pagesRead(); }

protected:
    QVariant cellRole(qint64 row, int column, int role) const override;
    void dropPages(qint64 page) override { pages_.dropFrom(page); }

private:
    mutable PageScan scan_;
    mutable KeptPages<RecordTable> pages_;
};
