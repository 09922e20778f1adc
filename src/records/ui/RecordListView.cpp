#include "records/ui/RecordListView.h"

#include "records/PagedListModel.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

RecordListView::RecordListView(PagedListModel *model, QWidget *parent)
    : QTableView(parent), records_(model), bar_(new QScrollBar(Qt::Vertical, this)) {
    setModel(model);
    // The table's own bar would count the rows on screen; this one counts
    // records.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAutoScroll(false);
    bar_->setSingleStep(1);
    bar_->hide();
    connect(bar_, &QScrollBar::valueChanged, this, [this](int top) {
        records_->setWindow(top, recordsOnScreen() + 1);
        applySelection();
    });
    connect(model, &PagedListModel::totalChanged, this, [this] { fitWindow(); });
    connect(model, &PagedListModel::listReplaced, this, [this](bool keepPlace) {
        // As a table does when its model is reset: no selection; a list read
        // again stays where it was scrolled to.
        selection_.clear();
        if (!keepPlace)
            bar_->setValue(0);
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { applySelection(); });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { applySelection(); });
}

int RecordListView::recordsOnScreen() const {
    const int rowHeight = qMax(1, verticalHeader()->defaultSectionSize());
    return qMax(1, viewport()->height() / rowHeight);
}

void RecordListView::fitWindow() {
    if (fitting_)
        return;
    fitting_ = true;
    const int onScreen = recordsOnScreen();
    const qint64 total = records_->totalRows();
    // A scroll bar counts in int; lists beyond that scroll in steps.
    const qint64 top = qMax<qint64>(0, total - onScreen);
    bar_->setRange(0, int(qMin<qint64>(top, INT_MAX)));
    bar_->setPageStep(onScreen);
    const bool needed = total > onScreen;
    if (bar_->isVisible() != needed) {
        bar_->setVisible(needed);
        updateGeometries();
    }
    records_->setWindow(bar_->value(), onScreen + 1);
    fitting_ = false;
}

void RecordListView::updateGeometries() {
    QTableView::updateGeometries();
    // Room for the record bar at the right of the rows, the way the table's
    // own bar would take it.
    const int width = bar_->isVisibleTo(this) ? bar_->sizeHint().width() : 0;
    const QMargins m = viewportMargins();
    if (m.right() != width)
        setViewportMargins(m.left(), m.top(), width, m.bottom());
    const QRect v = viewport()->geometry();
    bar_->setGeometry(v.right() + 1, frameWidth(), width, v.bottom() + 1 - frameWidth());
}

void RecordListView::resizeEvent(QResizeEvent *event) {
    QTableView::resizeEvent(event);
    fitWindow();
}

void RecordListView::showRecord(qint64 row) {
    const qint64 top = records_->windowTop();
    const int onScreen = recordsOnScreen();
    if (row < top)
        bar_->setValue(int(row));
    else if (row >= top + onScreen)
        bar_->setValue(int(row - onScreen + 1));
}

void RecordListView::scrollTo(const QModelIndex &index, ScrollHint) {
    if (index.isValid())
        showRecord(records_->windowTop() + index.row());
}

void RecordListView::applySelection() {
    QItemSelectionModel *sm = selectionModel();
    if (!sm)
        return;
    const qint64 top = records_->windowTop();
    const int rows = records_->rowCount();
    QItemSelection shown;
    if (rows > 0) {
        for (const auto &[first, last] : selection_.within(top, top + rows - 1))
            shown.select(records_->index(int(first - top), 0),
                         records_->index(int(last - top), records_->columnCount() - 1));
    }
    sm->select(shown, QItemSelectionModel::ClearAndSelect);
    const qint64 current = selection_.current();
    if (current >= top && current < top + rows) {
        const int column = qMax(0, sm->currentIndex().column());
        sm->setCurrentIndex(records_->index(int(current - top), column),
                            QItemSelectionModel::NoUpdate);
    } else {
        sm->clearCurrentIndex();
    }
}

qint64 RecordListView::recordAt(const QPoint &pos) const {
    const QModelIndex index = indexAt(pos);
    return index.isValid() ? records_->windowTop() + index.row() : -1;
}

void RecordListView::wheelEvent(QWheelEvent *event) {
    if (bar_->isVisible())
        QCoreApplication::sendEvent(bar_, event);
    event->accept();
}

void RecordListView::keyPressEvent(QKeyEvent *event) {
    const qint64 total = records_->totalRows();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event->matches(QKeySequence::SelectAll)) {
        selection_.selectAll(total);
        applySelection();
        return;
    }
    qint64 current = selection_.current() >= 0 ? selection_.current() : records_->windowTop();
    const int page = recordsOnScreen();
    switch (event->key()) {
        case Qt::Key_Up:
            --current;
            break;
        case Qt::Key_Down:
            ++current;
            break;
        case Qt::Key_PageUp:
            current -= page;
            break;
        case Qt::Key_PageDown:
            current += page;
            break;
        case Qt::Key_Home:
            current = 0;
            break;
        case Qt::Key_End:
            current = total - 1;
            break;
        default: {
            // Other keys move the current cell as in any table (Tab, the arrows
            // across); the row they end on becomes the selection.
            QTableView::keyPressEvent(event);
            const QModelIndex now = currentIndex();
            if (now.isValid() && records_->windowTop() + now.row() != selection_.current())
                selection_.moveTo(records_->windowTop() + now.row(), false);
            applySelection();
            return;
        }
    }
    if (total == 0)
        return;
    current = qBound<qint64>(0, current, total - 1);
    selection_.moveTo(current, shift);
    showRecord(current);
    applySelection();
}

void RecordListView::mousePressEvent(QMouseEvent *event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return;
    const qint64 row = recordAt(event->position().toPoint());
    if (row < 0) {
        selection_.clear();
    } else {
        const Qt::KeyboardModifiers m = event->modifiers();
        selection_.click(row, m & Qt::ControlModifier, m & Qt::ShiftModifier);
        dragging_ = event->button() == Qt::LeftButton && !(m & Qt::ControlModifier);
    }
    applySelection();
}

void RecordListView::mouseMoveEvent(QMouseEvent *event) {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton))
        return;
    const qint64 row = recordAt(event->position().toPoint());
    if (row >= 0 && row != selection_.current()) {
        selection_.moveTo(row, true);
        applySelection();
    }
}

void RecordListView::mouseReleaseEvent(QMouseEvent *) {
    dragging_ = false;
}
