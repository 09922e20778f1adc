#pragma once

#include "records/RowSelection.h"

#include <QTableView>

class QScrollBar;
class PagedListModel;

// The table of a list of any length (the record list's ListView1, the alarm
// log's list). Its model shows only the rows on screen (PagedListModel's
// window); the table scrolls over the whole list with a scroll bar of its
// own, counted in rows of the list, and keeps the selection in rows of the
// whole list, so that both look and work as in a table that holds every row.
class RecordListView : public QTableView {
    Q_OBJECT
public:
    explicit RecordListView(PagedListModel *model, QWidget *parent = nullptr);

    QScrollBar *recordScrollBar() const { return bar_; }
    const RowSelection &rowSelection() const { return selection_; }
    // Scrolls as little as needed to show record `row` whole.
    void showRecord(qint64 row);
    // Records that fit on screen whole.
    int recordsOnScreen() const;

    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void updateGeometries() override;

private:
    void fitWindow();
    void applySelection();
    qint64 recordAt(const QPoint &pos) const;

    PagedListModel *records_;
    QScrollBar *bar_;
    RowSelection selection_;
    bool dragging_ = false;
    bool fitting_ = false;
};
