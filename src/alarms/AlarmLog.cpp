#include "alarms/AlarmLog.h"

#include "notify/NotifyStatements.h"
#include "records/BackgroundPass.h"
#include "records/CsvFile.h"
#include "records/FilterText.h"
#include "store/LiteConnection.h"
#include "store/Statements.h"
#include "store/ValueText.h"

#include <QColor>

#include <algorithm>
#include <climits>

namespace alarmlog {

namespace {
// Pages read in one go by the export: one short read of the file.
constexpr qint64 kPagesAtOnce = 64;

// The export's lines of a stretch: the cells of result positions 1 to 5 as
// the list shows them, then the row's notification summary.
class CsvLines : public RowSink {
public:
    void row(qint64 id, const ScanValue *values) override {
        for (int i = 0; i < 5; ++i) {
            const ScanValue &v = values[i];
            if (v.type == ScanValue::Type::Text)
                lines += CsvFile::field(v.bytes.toByteArray());
            else if (v.type != ScanValue::Type::Null)
                lines += CsvFile::field(cellText(v.toVariant()).toUtf8());
            lines += ',';
        }
        if (const auto it = notes.find(id); it != notes.end())
            lines += CsvFile::field(it->second.toUtf8());
        lines += "\r\n";
        ++rows;
    }
    void restart() override {
        lines.clear();
        rows = 0;
    }
    std::map<qint64, QString> notes;  // of the stretch, read before it
    QByteArray lines;
    qint64 rows = 0;
};
}  // namespace

QString check(const AlarmLogFilter &filter) {
    if (filter.byModule) {
        const QString problem =
            filtertext::checkAddress(filter.address, QStringLiteral("只看模块"));
        if (!problem.isEmpty())
            return problem;
    }
    if (filter.byPeriod) {
        QString problem = filtertext::checkTimeText(filter.from, QStringLiteral("限制时间段，从"));
        if (problem.isEmpty())
            problem = filtertext::checkTimeText(filter.to, QStringLiteral("到"));
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

QStringList headers() {
    return {QStringLiteral("地址"), QStringLiteral("时间"), QStringLiteral("报警类型"),
            QStringLiteral("数值"), QStringLiteral("状态"), QStringLiteral("通知")};
}

void Rows::row(qint64 id, const ScanValue *values) {
    AlarmLogRow r;
    r.id = id;
    QString *cells[] = {&r.address, &r.time, &r.kind, &r.value, &r.state};
    for (int i = 0; i < 5; ++i) *cells[i] = cellText(values[i].toVariant());
    rows.push_back(std::move(r));
}

void Rows::addSummaries(LiteConnection &db) {
    if (rows.empty())
        return;
    const std::map<qint64, QString> notes = notifySummaries(db, rows.front().id, rows.back().id);
    for (AlarmLogRow &r : rows) {
        if (const auto it = notes.find(r.id); it != notes.end())
            r.notify = it->second;
    }
}

QString notifySummary(const std::map<QString, int> &channelsByState) {
    if (channelsByState.size() == 1)
        return channelsByState.begin()->first;
    QStringList parts;
    const QString order[] = {QString::fromUtf8(notify::kSent), QString::fromUtf8(notify::kWaiting),
                             QString::fromUtf8(notify::kFailed)};
    for (const QString &state : order) {
        if (const auto it = channelsByState.find(state); it != channelsByState.end())
            parts << state + QString::number(it->second);
    }
    for (const auto &[state, channels] : channelsByState) {
        if (!std::count(std::begin(order), std::end(order), state))
            parts << state + QString::number(channels);
    }
    return parts.join(QStringLiteral("，"));
}

std::map<qint64, QString> notifySummaries(LiteConnection &db, qint64 first, qint64 last) {
    std::map<qint64, QString> out;
    // The index on notifylog(alarm) that the notifier makes keeps this to the
    // rows asked for; a file without the table has no messages.
    LiteStatement st = db.prepare(
        QStringLiteral("select alarm, state, count(*) from notifylog where alarm >= %1 and alarm "
                       "<= %2 group by alarm, state order by alarm")
            .arg(first)
            .arg(last));
    std::map<QString, int> states;
    qint64 alarm = 0;
    auto flush = [&] {
        if (!states.empty())
            out.emplace(alarm, notifySummary(states));
        states.clear();
    };
    for (st.Step(); !st.done(); st.Step()) {
        if (st.integer(0) != alarm)
            flush();
        alarm = st.integer(0);
        states[cellText(st.value(1))] += int(st.integer(2));
    }
    flush();
    return out;
}

CsvResult exportCsv(const QString &databasePath, const PageIndex &index, const QString &path,
                    PassControl &control) {
    CsvResult result;
    RowScan scan(databasePath, index.statement, QStringLiteral("alarmlog"), Rows::positions());
    scan.setCancelled([&control] { return control.cancelled(); });
    if (!index.pageStarts.empty() && !scan.open()) {
        result.error = scan.error();
        return result;
    }
    CsvFile file(path);
    if (!file.open(headers())) {
        result.error = file.error();
        return result;
    }
    const qint64 pages = qint64(index.pageStarts.size());
    CsvLines stretch;
    for (qint64 p = 0; p < pages; p += kPagesAtOnce) {
        if (control.cancelled()) {
            result.cancelled = true;
            return result;
        }
        const qint64 first = index.pageStarts[size_t(p)];
        const qint64 last = index.pageIds(std::min(p + kPagesAtOnce, pages) - 1).second;
        stretch.restart();
        stretch.notes = notifySummaries(scan.connection(), first, last);
        if (!scan.runRange(stretch, first, last)) {
            result.error = scan.error();
            return result;
        }
        result.rows += stretch.rows;
        if (!file.write(stretch.lines)) {
            result.error = file.error();
            return result;
        }
        control.setProgress(int(std::min<qint64>(999, 1000 * (p + kPagesAtOnce) / pages)));
    }
    if (!control.claimCompletion()) {
        result.cancelled = true;
        return result;
    }
    if (!file.commit()) {
        result.error = file.error();
        return result;
    }
    control.setProgress(1000);
    return result;
}

}  // namespace alarmlog

AlarmLogModel::AlarmLogModel(const QString &databasePath, QObject *parent)
    : PagedListModel(parent),
      scan_(databasePath, QStringLiteral("alarmlog"), alarmlog::Rows::positions()) {}

const AlarmLogRow *AlarmLogModel::rowAt(qint64 row) const {
    const PageIndex &index = pageIndex();
    if (row < 0 || row >= index.rows)
        return nullptr;
    const auto &page = pages_.get(index, row / index.pageRows, [&](qint64 first, qint64 last) {
        alarmlog::Rows read;
        if (scan_.read(index, first, last, read))
            read.addSummaries(*scan_.connection());
        return std::move(read.rows);
    });
    const size_t at = size_t(row % index.pageRows);
    return at < page.size() ? &page[at] : nullptr;
}

QString AlarmLogModel::cell(qint64 row, int column) const {
    const AlarmLogRow *r = rowAt(row);
    return r ? r->cells().value(column) : QString();
}

QVariant AlarmLogModel::cellRole(qint64 row, int, int role) const {
    if (role != Qt::ForegroundRole)
        return {};
    const AlarmLogRow *r = rowAt(row);
    return r && r->state == QStringLiteral("开始") ? QVariant(QColor(176, 0, 0)) : QVariant();
}
