#pragma once

// Pieces that the record list, the chart and the alarm log share.

#include <functional>

class QCheckBox;
class QString;
class QLineEdit;
class QTableView;
class QTimer;
class QWidget;

// The "每…秒自动更新" box of the record windows: ticked, `timer` runs at the
// period in seconds typed in `periodBox`; unticked, it stops. A period that
// is no number unticks the box again and says why.
void switchAutoUpdate(bool ticked, QWidget *window, QCheckBox *box, QLineEdit *periodBox,
                      QTimer *timer);

// A list of records: whole rows selected, alternate colours, one line a row
// of one fixed height and no row header, so that the view needs nothing per
// row beyond what the model computes for the rows on screen.
void setUpRecordTable(QTableView *view);

// Asks for the file that an export writes, with the title 导出CSV, and hands
// the chosen path to `chosen` (nothing when the operator cancels). Returns at
// once: the dialog is the window's child without a loop of its own, so the
// window may close meanwhile and take the dialog with it.
void chooseCsvFile(QWidget *window, std::function<void(const QString &)> chosen);
