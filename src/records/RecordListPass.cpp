#include "records/RecordListPass.h"

#include "records/BackgroundPass.h"
#include "store/ValueText.h"

#include <algorithm>

namespace {

// The time (position 2) of the row of `statement` with that id, as cells show it.
class TimeOf : public RowSink {
public:
    void row(qint64, const ScanValue *values) override { time = cellText(values[0].toVariant()); }
    void restart() override { time.clear(); }
    QString time;
};

}  // namespace

void ListPass::restart() {
    stats_ = {};
    IndexPass::restart();
}

void IndexPass::sliceDone(qint64 lastId) {
    std::lock_guard lock(mutex_);
    starts_.insert(starts_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    shownRows_ = rows_;
    shownLastId_ = lastId;
}

void IndexPass::restart() {
    inPage_ = 0;
    rows_ = firstRowId_ = lastRowId_ = 0;
    pending_.clear();
    std::lock_guard lock(mutex_);
    ++generation_;
    starts_.clear();
    shownRows_ = shownLastId_ = 0;
}

void IndexPass::setIdColumn(const QString &idColumn) {
    std::lock_guard lock(mutex_);
    idColumn_ = idColumn;
}

IndexGrowth IndexPass::growth(int generation, size_t knownPages) const {
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

IndexResult runIndexPass(const QString &databasePath, const QString &statement,
                         const QString &table, IndexPass &pass, const std::vector<int> &positions,
                         PassControl &control, qint64 sliceIds) {
    IndexResult result;
    RowScan scan(databasePath, statement, table, positions, sliceIds);
    scan.setCancelled([&control] { return control.cancelled(); });
    if (!scan.open()) {
        result.error = scan.error();
        return result;
    }
    pass.setIdColumn(scan.idColumn());
    if (!scan.run(pass, [&control](int permille) { control.setProgress(permille); })) {
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
    return result;
}

ListResult runListPass(const QString &databasePath, const QString &statement, ListPass &pass,
                       PassControl &control, qint64 sliceIds) {
    ListResult result;
    IndexResult indexed = runIndexPass(databasePath, statement, QStringLiteral("th"), pass,
                                       ListPass::positions(), control, sliceIds);
    result.error = std::move(indexed.error);
    if (!result.error.isEmpty() || control.cancelled())
        return result;
    result.index = std::move(indexed.index);
    result.stats = pass.stats();
    RowScan times(databasePath, statement, QStringLiteral("th"), {2});
    if (pass.rows() > 0 && times.open()) {
        TimeOf t;
        times.runRange(t, pass.firstRowId(), pass.firstRowId());
        result.firstTime = t.time;
        t.restart();
        times.runRange(t, pass.lastRowId(), pass.lastRowId());
        result.lastTime = t.time;
    }
    return result;
}

void takeGrowth(PagedListModel &model, const IndexPass &pass, const QString &statement,
                int *generation) {
    const PageIndex &shown = model.pageIndex();
    IndexGrowth g = pass.growth(*generation, shown.pageStarts.size());
    if (g.idColumn.isEmpty())
        return;
    if (g.generation != *generation || shown.idColumn.isEmpty()) {
        // The pass started over (or its first rows): the list starts over too.
        PageIndex fresh;
        fresh.statement = statement;
        fresh.idColumn = g.idColumn;
        fresh.pageRows = pass.pageRows();
        model.setIndex(std::move(fresh));
        *generation = g.generation;
        g = pass.growth(*generation, 0);
    }
    if (g.rows > model.totalRows() || !g.moreStarts.empty())
        model.grow(g.rows, g.lastId, g.moreStarts);
}

void completeIndex(PagedListModel &model, PageIndex index) {
    const PageIndex &shown = model.pageIndex();
    const size_t known = shown.pageStarts.size();
    const bool prefix = !shown.idColumn.isEmpty() && shown.statement == index.statement &&
                        shown.rows <= index.rows && known <= index.pageStarts.size() &&
                        (known == 0 || shown.pageStarts[known - 1] == index.pageStarts[known - 1]);
    if (!prefix) {
        model.setIndex(std::move(index));
        return;
    }
    model.grow(
        index.rows, index.lastId,
        std::vector<qint64>(index.pageStarts.begin() + qsizetype(known), index.pageStarts.end()));
}
