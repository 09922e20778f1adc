#pragma once

class QCheckBox;
class QLineEdit;
class QTimer;
class QWidget;

// The "每…秒自动更新" box of the record windows: ticked, `timer` runs at the
// period in seconds typed in `periodBox`; unticked, it stops. A period that
// is no number unticks the box again and says why.
void switchAutoUpdate(bool ticked, QWidget *window, QCheckBox *box, QLineEdit *periodBox,
                      QTimer *timer);
