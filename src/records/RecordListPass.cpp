#include "records/RecordListPass.h"

#include "records/BackgroundPass.h"
#include "records/RecordTable.h"
#include "store/ValueText.h"

#include <algorithm>

namespace {

using Type = LiteStatement::Type;

// One temperature or humidity value into its figures, as the list has always
// counted it: a number as it is (whole tenths summed exactly), a text when it
// reads as a number, nothing for a null.
void countFigure(const ScanValues &values, int i, FigureStats &stats) {
    double number = 0;
    switch (values.type(i)) {
        case Type::Real:
            number = values.real(i);
            break;
        case Type::Integer:
            number = double(values.integer(i));
            break;
        case Type::Null:
            return;
        default:
            if (const auto v = parseDecimal(cellText(values.value(i))))
                stats.add(*v);
            return;
    }
    qint16 tenths = 0;
    if (RecordTable::toTenths(number, &tenths))
        stats.addTenths(tenths);
    else
        stats.add(number);
}

// The time cell (position 2) of the row with that id.
QString timeOf(LiteConnection &conn, const QString &statement, const QString &idColumn, qint64 id) {
    LiteStatement st = conn.prepare(recordsql::rowsBetween(statement, idColumn, id, id));
    st.Step();
    return st.done() ? QString() : cellText(st.value(2));
}

}  // namespace

void ListPass::row(qint64 id, const ScanValues &values) {
    if (inPage_ == 0)
        pending_.push_back(id);
    if (++inPage_ == pageRows_)
        inPage_ = 0;
    if (stats_.count == 0)
        firstRowId_ = id;
    lastRowId_ = id;
    countFigure(values, 0, stats_.temp);
    countFigure(values, 1, stats_.hum);
    ++stats_.count;
}

void ListPass::sliceDone(qint64 lastId) {
    std::lock_guard lock(mutex_);
    starts_.insert(starts_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    shownRows_ = stats_.count;
    shownLastId_ = lastId;
}

void ListPass::restart() {
    stats_ = {};
    inPage_ = 0;
    firstRowId_ = lastRowId_ = 0;
    pending_.clear();
    std::lock_guard lock(mutex_);
    ++generation_;
    starts_.clear();
    shownRows_ = shownLastId_ = 0;
}

void ListPass::setIdColumn(const QString &idColumn) {
    std::lock_guard lock(mutex_);
    idColumn_ = idColumn;
}

IndexGrowth ListPass::growth(int generation, size_t knownPages) const {
    std::lock_guard lock(mutex_);
    IndexGrowth g;
    g.generation = generation_;
    g.idColumn = idColumn_;
    g.rows = shownRows_;
    g.lastId = shownLastId_;
    const size_t from = generation == generation_ ? std::min(knownPages, starts_.size()) : 0;
    g.moreStarts.assign(starts_.begin() + qsizetype(from), starts_.end());
    return g;
}

ListResult runListPass(const QString &databasePath, const QString &statement, ListPass &pass,
                       PassControl &control, qint64 sliceIds) {
    ListResult result;
    RecordScan scan(databasePath, statement, ListPass::positions(), sliceIds);
    scan.setControl(&control);
    if (!scan.open()) {
        result.error = scan.error();
        return result;
    }
    pass.setIdColumn(scan.idColumn());
    if (!scan.run(pass, control)) {
        if (!control.cancelled())
            result.error = scan.error();
        return result;
    }
    IndexGrowth all = pass.growth(-1, 0);
    result.index.statement = statement;
    result.index.idColumn = scan.idColumn();
    result.index.pageRows = pass.pageRows();
    result.index.pageStarts = std::move(all.moreStarts);
    result.index.rows = pass.rows();
    result.index.lastId = scan.lastId();
    result.stats = pass.stats();
    if (pass.rows() > 0) {
        result.firstTime = timeOf(scan.connection(), statement, scan.idColumn(), pass.firstRowId());
        result.lastTime = timeOf(scan.connection(), statement, scan.idColumn(), pass.lastRowId());
    }
    return result;
}
