#include "records/ui/WindowParts.h"

#include "records/FilterText.h"
#include "records/RecordQuery.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>

void switchAutoUpdate(bool ticked, QWidget *window, QCheckBox *box, QLineEdit *periodBox,
                      QTimer *timer) {
    if (!ticked) {
        timer->stop();
        return;
    }
    const auto ms = periodMilliseconds(periodBox->text());
    if (!ms) {
        box->setChecked(false);
        msgBox(window, filtertext::checkPeriod(periodBox->text(), QStringLiteral("每…秒自动更新")),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    timer->start(*ms);
}

void setUpRecordTable(QTableView *view) {
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
}
