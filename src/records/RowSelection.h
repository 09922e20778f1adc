#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

// The rows selected in the record list, counted in the whole list (not on
// screen, where rows come and go as it scrolls), with the current row and the
// anchor that a Shift-click or Shift-arrow extends from.
class RowSelection {
public:
    using Range = std::pair<qint64, qint64>;  // first and last row

    void clear();
    // A click on `row`: alone it selects just that row; with Ctrl it adds or
    // removes the row; with Shift it selects the rows from the anchor to it.
    void click(qint64 row, bool ctrl, bool shift);
    // The current row moved to `row` (arrow keys): with Shift the selection
    // runs from the anchor to it, otherwise it is that row alone.
    void moveTo(qint64 row, bool shift);
    void selectAll(qint64 rows);

    bool contains(qint64 row) const;
    // The selected ranges that meet rows first .. last, cut to them.
    std::vector<Range> within(qint64 first, qint64 last) const;
    const std::vector<Range> &ranges() const { return ranges_; }
    qint64 current() const { return current_; }  // -1: none

private:
    void selectOnly(qint64 first, qint64 last);
    void toggle(qint64 row);

    std::vector<Range> ranges_;  // in order, apart and not touching
    qint64 current_ = -1;
    qint64 anchor_ = -1;
};
