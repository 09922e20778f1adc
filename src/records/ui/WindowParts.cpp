#include "records/ui/WindowParts.h"

#include "records/FilterText.h"
#include "records/RecordQuery.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QFileDialog>
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

void chooseCsvFile(QWidget *window, std::function<void(const QString &)> chosen) {
    auto *dialog = new QFileDialog(window, QStringLiteral("导出CSV"), QString(),
                                   QStringLiteral("CSV 文件 (*.csv)"));
    dialog->setObjectName(QStringLiteral("exportFile"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, window,
                     [chosen = std::move(chosen)](const QString &path) {
                         if (!path.isEmpty())
                             chosen(path);
                     });
    dialog->open();
}
