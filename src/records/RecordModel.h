#pragma once

#include "records/RecordTable.h"

#include <QAbstractTableModel>

// The records of the list, four columns (地址, 采集时间, 温度, 湿度) over
// compact storage: cells are made into text only when a view asks for them.
class RecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Replaces every row at once.
    void setTable(RecordTable &&table);
    const RecordTable &table() const { return table_; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    static QStringList headers();

private:
    RecordTable table_;
};
