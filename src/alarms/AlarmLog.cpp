#include "alarms/AlarmLog.h"

#include "records/CsvFile.h"
#include "records/FilterText.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/ValueText.h"

#include <QColor>

namespace alarmlog {

QString check(const AlarmLogFilter &filter) {
    if (filter.byModule) {
        const QString problem =
            filtertext::checkAddress(filter.address, QStringLiteral("只看模块"));
        if (!problem.isEmpty())
            return problem;
    }
    if (filter.byPeriod) {
        QString problem = filtertext::checkTime(filter.from, QStringLiteral("限制时间段，从"));
        if (problem.isEmpty())
            problem = filtertext::checkTime(filter.to, QStringLiteral("到"));
        if (!problem.isEmpty())
            return problem;
    }
    return {};
}

QString statement(const AlarmLogFilter &filter) {
    QString out = sql::selectAlarmLogBase();
    if (filter.byModule)
        out += sql::recordAddressCondition(
            QString::number(parseWholeNumber(filter.address, 0, INT_MAX).value_or(0)));
    if (filter.byPeriod)
        out += sql::recordTimeCondition(filter.from.trimmed(), filter.to.trimmed());
    return out + sql::alarmLogOrder();
}

bool load(LiteConnection &db, const QString &statement, QList<AlarmLogRow> *rows, QString *error) {
    rows->clear();
    const auto exists = schema::hasTable(db, QStringLiteral("alarmlog"), error);
    if (!exists)
        return false;
    if (!*exists)
        return true;
    LiteStatement st = db.prepare(statement);
    if (st.isValid())
        st.Step();
    while (st.isValid() && !st.done()) {
        rows->append({cellText(st.value(1)), cellText(st.value(2)), cellText(st.value(3)),
                      cellText(st.value(4)), cellText(st.value(5))});
        st.Step();
    }
    const bool ok = !st.failed();
    if (!ok) {
        rows->clear();
        if (error)
            *error = st.error();
    }
    st.Close();
    return ok;
}

QStringList headers() {
    return {QStringLiteral("地址"), QStringLiteral("时间"), QStringLiteral("报警类型"),
            QStringLiteral("数值"), QStringLiteral("状态")};
}

QString exportCsv(const QList<AlarmLogRow> &rows, const QString &path) {
    CsvFile file(path);
    if (!file.open(headers()))
        return file.error();
    QByteArray out;
    for (const AlarmLogRow &r : rows)
        CsvFile::appendLine(out, {r.address, r.time, r.kind, r.value, r.state});
    if (!file.write(out) || !file.commit())
        return file.error();
    return {};
}

}  // namespace alarmlog

void AlarmLogModel::setRows(QList<AlarmLogRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int AlarmLogModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int AlarmLogModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : 5;
}

QVariant AlarmLogModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const AlarmLogRow &r = rows_.at(index.row());
    if (role == Qt::ForegroundRole)
        return r.state == QStringLiteral("开始") ? QVariant(QColor(176, 0, 0)) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case 0:
            return r.address;
        case 1:
            return r.time;
        case 2:
            return r.kind;
        case 3:
            return r.value;
        case 4:
            return r.state;
    }
    return {};
}

QVariant AlarmLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 5)
        return {};
    return alarmlog::headers().at(section);
}
