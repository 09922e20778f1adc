#pragma once

#include "records/PagedListModel.h"
#include "records/RecordCsv.h"

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

class LiteConnection;
class PassControl;

// The alarm log (table alarmlog) as the window 报警记录 lists it: one row
// per start or end of an alarm, filtered by module and time like the
// records, with whether its messages went out (table notifylog), read page
// by page and exported to CSV.

// One row, every cell as the list shows it.
struct AlarmLogRow {
    qint64 id = 0;
    QString address;  // 地址
    QString time;     // 时间
    QString kind;     // 报警类型
    QString value;    // 数值 (empty when there is none)
    QString state;    // 状态: 开始 or 结束
    QString notify;   // 通知: how its messages went out, empty without any

    // The cells in the order of the columns.
    QStringList cells() const { return {address, time, kind, value, state, notify}; }
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

// The column headers: 地址, 时间, 报警类型, 数值, 状态, 通知.
QStringList headers();

// The rows of the log handed on by a scan of its query (result positions 1
// to 5), for a page or a stretch of the export.
class Rows : public RowSink {
public:
    static std::vector<int> positions() { return {1, 2, 3, 4, 5}; }
    void row(qint64 id, const ScanValue *values) override;
    void restart() override { rows.clear(); }
    // Adds what notifySummaries says of each row.
    void addSummaries(LiteConnection &db);
    std::vector<AlarmLogRow> rows;
};

// How the messages of one alarm row went out, from the states of its rows in
// notifylog (one per channel) and how many channels are in each: the state
// alone when all channels agree (已发送), otherwise each with its count in
// the order 已发送, 等待, 失败 (已发送2，失败1); empty without any.
QString notifySummary(const std::map<QString, int> &channelsByState);
// The summaries of the alarm rows with ids first .. last that have messages;
// none when the file has no notifylog.
std::map<qint64, QString> notifySummaries(LiteConnection &db, qint64 first, qint64 last);

// Writes the rows of `index` (read again from the database file at
// `databasePath` a stretch at a time) to a CSV file as the record export
// does (CsvFile), with the headers above. Runs on the calling thread.
CsvResult exportCsv(const QString &databasePath, const PageIndex &index, const QString &path,
                    PassControl &control);

}  // namespace alarmlog

// The rows of the window's list, a page at a time from the database.
class AlarmLogModel : public PagedListModel {
    Q_OBJECT
public:
    explicit AlarmLogModel(const QString &databasePath, QObject *parent = nullptr);

    QString cell(qint64 row, int column) const override;
    QStringList headers() const override { return alarmlog::headers(); }
    // Row `row` of the list (0 = the first); null outside the rows.
    const AlarmLogRow *rowAt(qint64 row) const;
    int pagesRead() const { return pages_.pagesRead(); }

protected:
    QVariant cellRole(qint64 row, int column, int role) const override;
    void dropPages(qint64 page) override { pages_.dropFrom(page); }

private:
    mutable PageScan scan_;
    mutable KeptPages<std::vector<AlarmLogRow>> pages_;
};
