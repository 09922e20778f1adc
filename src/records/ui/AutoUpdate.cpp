#include "records/ui/AutoUpdate.h"

#include "records/FilterText.h"
#include "records/RecordQuery.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QLineEdit>
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
