#pragma once

#include "bus/Frames.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

class LiteConnection;

// One registered module as the module list shows it. Every cell is text, as
// it was loaded from dbQx7 or written by the acquisition.
struct ModuleRow {
    QString address;       // 地址: the row text
    QString model;         // 模块型号
    QString enabled;       // 启用: "是" or "否"
    QString temperature;   // 温度
    QString humidity;      // 湿度
    QString recordPeriod;  // 记录周期, as stored
    QString alarm;         // 报警
    // Seconds between records as the schedule uses it; 0 means never.
    int recordSeconds = 0;
    // The temperature and humidity cells hold a reading that came from this
    // module since the list was loaded (not the stored texts, not the "0" of a
    // failed poll), taken at readAtMs on the acquisition's steady clock. Only
    // such a row is ever recorded, and only while the reading is recent.
    bool fresh = false;
    qint64 readAtMs = 0;
    // The scan column held no usable record period (recordSeconds is then 0).
    bool badRecordPeriod = false;

    // The address cell as a bus address, when it is a whole number 0 to 255.
    std::optional<quint8> busAddress() const;
    // Why the acquisition passes this module by (it is listed but never
    // polled, or never recorded); empty when nothing is wrong.
    QString problem() const;
};

// The record period of a module from its scan column: a whole number of
// seconds from 0 to 32767. Anything else (null, not a number, negative, too
// large) means no records for that module.
int recordSecondsOf(const QVariant &scan);
// True when the scan column holds such a period.
bool validRecordPeriod(const QVariant &scan);

// A record period typed into the editor: a whole number of seconds from 0 to
// 32767, blanks around it allowed.
std::optional<int> parseRecordSeconds(const QString &text);

// The module list: the registry as the acquisition works on it. Positions are
// 1-based, as the poll cursor and the record schedule count them.
class ModuleListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Address,
        Model,
        Enabled,
        Temperature,
        Humidity,
        RecordPeriod,
        Alarm,
        ColumnCount
    };

    explicit ModuleListModel(QObject *parent = nullptr);

    // Header texts and widths (in twips, 15 to a pixel at 96 dpi).
    static QString header(int column);
    static int headerTwips(int column);

    // Replaces the rows by the modules of dbQx7, in the order the table gives
    // them. On a database failure the list is left empty and *error says why.
    bool load(LiteConnection &db, QString *error = nullptr);
    void setRows(QList<ModuleRow> rows);
    // Rows that another program reads (a logger): the same modules as now
    // only have their cells brought up to date, so that the selection
    // stays; other ones replace the list.
    void showRows(const QList<ModuleRow> &rows);

    int count() const { return int(rows_.size()); }
    bool hasPosition(int position) const { return position >= 1 && position <= count(); }
    const ModuleRow &at(int position) const { return rows_.at(position - 1); }
    QList<int> recordPeriods() const;
    // One line per module that the acquisition passes by (problem()).
    QStringList problems() const;

    // True when a row's address cell names this bus address.
    bool isRegistered(quint8 address) const;

    // A reading from the module at `position`, taken at `atMs`.
    void setReading(int position, const Measurement &m, qint64 atMs = 0);
    // The poll of `position` went unanswered: both cells show "0".
    void markFailed(int position);

    // The modules in alarm, by bus address: their rows are marked red
    // (Qt::BackgroundRole and Qt::ForegroundRole).
    void setAlarmed(const QList<quint8> &addresses);
    bool isAlarmed(int position) const;
    static QColor alarmBackground();
    static QColor alarmForeground();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    static QString cell(const ModuleRow &row, int column);

private:
    void cellsChanged(int position);

    QList<ModuleRow> rows_;
    QList<quint8> alarmed_;
};
