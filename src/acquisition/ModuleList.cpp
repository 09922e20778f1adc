#include "acquisition/ModuleList.h"

#include "store/LiteConnection.h"
#include "store/Statements.h"
#include "store/ValueText.h"

#include <cmath>

namespace {
constexpr int kMaxRecordSeconds = 32767;
}

std::optional<quint8> ModuleRow::busAddress() const {
    const auto v = parseWholeNumber(address, 0, 255);
    if (!v)
        return std::nullopt;
    return quint8(*v);
}

QString ModuleRow::problem() const {
    const QString who = QStringLiteral("模块“") + address + QStringLiteral("”");
    if (enabled != QStringLiteral("是") && enabled != QStringLiteral("否"))
        return who + QStringLiteral("的启用值“") + enabled +
               QStringLiteral("”既不是“是”也不是“否”，不会被采集");
    if (enabled == QStringLiteral("是") && !busAddress())
        return who + QStringLiteral("的地址不是0到255的整数，不会被采集");
    if (badRecordPeriod)
        return who + QStringLiteral("的记录周期“") + recordPeriod +
               QStringLiteral("”不是0到32767的整数，其数据不会被记录");
    return {};
}

namespace {
// The record period in a scan column, or nothing when it holds none.
std::optional<int> recordPeriodIn(const QVariant &scan) {
    if (!scan.isValid() || scan.isNull())
        return std::nullopt;
    double seconds = 0;
    switch (scan.typeId()) {
        case QMetaType::LongLong:
        case QMetaType::Int:
            seconds = double(scan.toLongLong());
            break;
        case QMetaType::Double:
            seconds = scan.toDouble();
            break;
        default: {
            const auto d = parseDecimal(scan.toString());
            if (!d)
                return std::nullopt;
            seconds = *d;
            break;
        }
    }
    if (!std::isfinite(seconds))
        return std::nullopt;
    const double rounded = std::round(seconds);
    if (rounded < 0 || rounded > kMaxRecordSeconds)
        return std::nullopt;
    return int(rounded);
}
}  // namespace

bool validRecordPeriod(const QVariant &scan) {
    return recordPeriodIn(scan).has_value();
}

int recordSecondsOf(const QVariant &scan) {
    return recordPeriodIn(scan).value_or(0);
}

std::optional<int> parseRecordSeconds(const QString &text) {
    const auto v = parseWholeNumber(text, 0, kMaxRecordSeconds);
    if (!v)
        return std::nullopt;
    return int(*v);
}

ModuleListModel::ModuleListModel(QObject *parent) : QAbstractTableModel(parent) {}

QString ModuleListModel::header(int column) {
    switch (column) {
        case Address:
            return QStringLiteral("地址");
        case Model:
            return QStringLiteral("模块型号");
        case Enabled:
            return QStringLiteral("启用");
        case Temperature:
            return QStringLiteral("温度");
        case Humidity:
            return QStringLiteral("湿度");
        case RecordPeriod:
            return QStringLiteral("记录周期");
        case Alarm:
            return QStringLiteral("报警");
    }
    return {};
}

int ModuleListModel::headerTwips(int column) {
    switch (column) {
        case Model:
        case RecordPeriod:
            return 860;
        case Temperature:
        case Humidity:
            return 550;
        default:
            return 500;
    }
}

bool ModuleListModel::load(LiteConnection &db, QString *error) {
    QList<ModuleRow> rows;
    LiteStatement st = db.prepare(sql::selectModules());
    if (st.isValid())
        st.Step();
    while (st.isValid() && !st.done()) {
        ModuleRow row;
        row.address = cellText(st.value(1));
        row.model = cellText(st.value(2));
        row.enabled = cellText(st.value(3));
        row.temperature = cellText(st.value(4));
        row.humidity = cellText(st.value(5));
        const QVariant scan = st.value(6);
        row.recordPeriod = cellText(scan);
        row.recordSeconds = recordSecondsOf(scan);
        row.badRecordPeriod = !validRecordPeriod(scan);
        row.alarm = cellText(st.value(7));
        rows.append(row);
        st.Step();
    }
    const bool ok = !st.failed();
    if (error)
        *error = st.error();
    st.Close();
    setRows(ok ? rows : QList<ModuleRow>());
    return ok;
}

void ModuleListModel::setRows(QList<ModuleRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void ModuleListModel::showRows(const QList<ModuleRow> &rows) {
    const auto sameModule = [](const ModuleRow &a, const ModuleRow &b) {
        return a.address == b.address && a.model == b.model && a.enabled == b.enabled &&
               a.recordPeriod == b.recordPeriod && a.alarm == b.alarm;
    };
    bool same = rows.size() == rows_.size();
    for (qsizetype i = 0; same && i < rows.size(); ++i) same = sameModule(rows[i], rows_[i]);
    if (!same) {
        setRows(rows);
        return;
    }
    for (int position = 1; position <= count(); ++position) {
        ModuleRow &row = rows_[position - 1];
        const ModuleRow &shown = rows[position - 1];
        if (row.temperature == shown.temperature && row.humidity == shown.humidity)
            continue;
        row.temperature = shown.temperature;
        row.humidity = shown.humidity;
        row.fresh = false;  // not read by this program: never recorded here
        cellsChanged(position);
    }
}

QList<int> ModuleListModel::recordPeriods() const {
    QList<int> out;
    out.reserve(rows_.size());
    for (const ModuleRow &row : rows_) out.append(row.recordSeconds);
    return out;
}

bool ModuleListModel::isRegistered(quint8 address) const {
    for (const ModuleRow &row : rows_) {
        if (row.busAddress() == address)
            return true;
    }
    return false;
}

QStringList ModuleListModel::problems() const {
    QStringList out;
    for (const ModuleRow &row : rows_) {
        const QString p = row.problem();
        if (!p.isEmpty())
            out << p;
    }
    return out;
}

void ModuleListModel::setReading(int position, const Measurement &m, qint64 atMs) {
    if (!hasPosition(position))
        return;
    ModuleRow &row = rows_[position - 1];
    row.temperature = m.temperatureText();
    row.humidity = m.humidityText();
    row.fresh = true;
    row.readAtMs = atMs;
    cellsChanged(position);
}

void ModuleListModel::markFailed(int position) {
    if (!hasPosition(position))
        return;
    ModuleRow &row = rows_[position - 1];
    row.temperature = QStringLiteral("0");
    row.humidity = QStringLiteral("0");
    row.fresh = false;
    cellsChanged(position);
}

void ModuleListModel::setAlarmed(const QList<quint8> &addresses) {
    if (alarmed_ == addresses)
        return;
    alarmed_ = addresses;
    if (!rows_.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(count() - 1, ColumnCount - 1),
                           {Qt::BackgroundRole, Qt::ForegroundRole});
}

bool ModuleListModel::isAlarmed(int position) const {
    if (!hasPosition(position))
        return false;
    const auto address = at(position).busAddress();
    return address && alarmed_.contains(*address);
}

QColor ModuleListModel::alarmBackground() {
    return QColor(255, 214, 214);
}

QColor ModuleListModel::alarmForeground() {
    return QColor(176, 0, 0);
}

void ModuleListModel::cellsChanged(int position) {
    Q_EMIT dataChanged(index(position - 1, Temperature), index(position - 1, Humidity),
                       {Qt::DisplayRole});
}

int ModuleListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : count();
}

int ModuleListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString ModuleListModel::cell(const ModuleRow &row, int column) {
    switch (column) {
        case Address:
            return row.address;
        case Model:
            return row.model;
        case Enabled:
            return row.enabled;
        case Temperature:
            return row.temperature;
        case Humidity:
            return row.humidity;
        case RecordPeriod:
            return row.recordPeriod;
        case Alarm:
            return row.alarm;
    }
    return {};
}

QVariant ModuleListModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ModuleRow &row = rows_.at(index.row());
    if (role == Qt::ToolTipRole) {
        const QString p = row.problem();
        return p.isEmpty() ? QVariant() : QVariant(p);
    }
    if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
        if (!isAlarmed(index.row() + 1))
            return {};
        return role == Qt::BackgroundRole ? alarmBackground() : alarmForeground();
    }
    if (role != Qt::DisplayRole)
        return {};
    return cell(row, index.column());
}

QVariant ModuleListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return header(section);
}
