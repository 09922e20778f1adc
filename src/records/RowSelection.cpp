#include "records/RowSelection.h"

#include <algorithm>

void RowSelection::clear() {
    ranges_.clear();
    current_ = anchor_ = -1;
}

void RowSelection::selectOnly(qint64 first, qint64 last) {
    if (first > last)
        std::swap(first, last);
    ranges_.assign(1, {first, last});
}

void RowSelection::click(qint64 row, bool ctrl, bool shift) {
    if (shift && anchor_ >= 0) {
        selectOnly(anchor_, row);
    } else if (ctrl) {
        toggle(row);
        anchor_ = row;
    } else {
        selectOnly(row, row);
        anchor_ = row;
    }
    current_ = row;
}

void RowSelection::moveTo(qint64 row, bool shift) {
    if (shift && anchor_ >= 0) {
        selectOnly(anchor_, row);
    } else {
        selectOnly(row, row);
        anchor_ = row;
    }
    current_ = row;
}

void RowSelection::selectAll(qint64 rows) {
    if (rows > 0)
        selectOnly(0, rows - 1);
    else
        ranges_.clear();
}

bool RowSelection::contains(qint64 row) const {
    const auto it = std::upper_bound(ranges_.begin(), ranges_.end(), row,
                                     [](qint64 r, const Range &range) { return r < range.first; });
    return it != ranges_.begin() && std::prev(it)->second >= row;
}

void RowSelection::toggle(qint64 row) {
    // The first range that does not end before the row.
    auto it = std::lower_bound(ranges_.begin(), ranges_.end(), row,
                               [](const Range &range, qint64 r) { return range.second < r; });
    if (it != ranges_.end() && it->first <= row) {
        // Selected: take it out, splitting its range.
        const Range range = *it;
        it = ranges_.erase(it);
        if (row < range.second)
            it = ranges_.insert(it, {row + 1, range.second});
        if (range.first < row)
            ranges_.insert(it, {range.first, row - 1});
        return;
    }
    // Not selected: add it and join the neighbours it touches.
    it = ranges_.insert(it, {row, row});
    if (std::next(it) != ranges_.end() && std::next(it)->first == row + 1) {
        it->second = std::next(it)->second;
        ranges_.erase(std::next(it));
    }
    if (it != ranges_.begin() && std::prev(it)->second == row - 1) {
        std::prev(it)->second = it->second;
        ranges_.erase(it);
    }
}

std::vector<RowSelection::Range> RowSelection::within(qint64 first, qint64 last) const {
    std::vector<Range> out;
    for (const Range &r : ranges_) {
        if (r.second < first || r.first > last)
            continue;
        out.emplace_back(std::max(r.first, first), std::min(r.second, last));
    }
    return out;
}
