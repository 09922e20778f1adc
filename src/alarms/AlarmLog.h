#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

class LiteConnection;

// The alarm log (table alarmlog) as the window 报警记录 lists it: one row
// per start or end of an alarm, filtered by module and time like the
// records, and exported to CSV.

// One row, every cell as the list shows it.
struct AlarmLogRow {
    QString address;  // 地址
    QString time;     // 时间
    QString kind;     // 报警类型
    QString value;    // 数值 (empty when there is none)
    QString state;    // 状态: 开始 or 结束

    bool operator==(const AlarmLogRow &) const = default;
};

// The filters of the window: each off, or on with the text of its boxes.
struct AlarmLogFilter {
    bool byModule = false;
    QString address;
    bool byPeriod = false;
    QString from;
    QString to;
};

namespace alarmlog {

// Checks the texts of the filters that are on (the record window's checks):
// an empty text when they are fine, otherwise the message naming the box.
QString check(const AlarmLogFilter &filter);
// select * from alarmlog where id<>0, the address and time conditions of the
// filters that are on (those of the record query), ordered by id. The texts
// must have passed check().
QString statement(const AlarmLogFilter &filter);

// Runs the statement. A file without the table has an empty log. False, with
// the reason, when it could not be read.
bool load(LiteConnection &db, const QString &statement, QList<AlarmLogRow> *rows,
          QString *error = nullptr);

// The column headers.
QStringList headers();

// Writes the rows to a CSV file as the record export does (UTF-8 with a byte
// order mark, the headers, CRLF, written whole or not at all). Empty on
// success, otherwise what failed.
QString exportCsv(const QList<AlarmLogRow> &rows, const QString &path);

}  // namespace alarmlog

// The rows of the window's list.
class AlarmLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QList<AlarmLogRow> rows);
    const QList<AlarmLogRow> &rows() const { return rows_; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<AlarmLogRow> rows_;
};
