#pragma once

#include "widgets/MessageBoxes.h"

#include <QWidget>

#include <functional>
#include <optional>

class LiteConnection;
class QCheckBox;
class QLineEdit;
struct ModuleRow;

// The window "EditQx7" (修改QX-7参数): enabled flag, alarm flag and record
// period of one registered module; also removes it. It edits the module
// selected in the module list: `selection` gives that row at the moment of
// each action, so a save acts on the row selected then. After a save or a
// delete it reports modulesChanged() and closes.
//
// Below the design's controls, four boxes hold the module's alarm limits
// (table alarmlimit, empty for none); 保存 stores them in the same
// transaction as the module's update.
class EditQx7 : public QWidget {
    Q_OBJECT
public:
    using Selection = std::function<std::optional<ModuleRow>()>;

    EditQx7(LiteConnection *db, Selection selection, QWidget *parent = nullptr);

    // Fills the window from the selected row (the design contents stay when
    // there is none).
    void fillFromSelection();

    void save();    // 保存
    void remove();  // 删除

Q_SIGNALS:
    // A module was saved or deleted: the list shows the registry anew.
    void modulesChanged();

private:
    // Says that nothing is selected; false then.
    bool haveSelection(const std::optional<ModuleRow> &row);
    // Asks; on Yes runs the statements (together), reports the change and
    // closes. A failure is shown (failure + what the database said), nothing
    // is stored and the editor stays open.
    void confirmAndRun(const QString &question, MsgIcon icon, const QString &title,
                       const QStringList &statements, const QString &failure);
    void buildLimitBoxes();
    void loadLimits(const QString &address);

    LiteConnection *db_;
    Selection selection_;
    QCheckBox *enabledBox_ = nullptr;  // Check1
    QCheckBox *alarmBox_ = nullptr;    // Check2
    QLineEdit *periodBox_ = nullptr;   // Text1
    QLineEdit *tempLowBox_ = nullptr;  // 温度下限
    QLineEdit *tempHighBox_ = nullptr;
    QLineEdit *humLowBox_ = nullptr;
    QLineEdit *humHighBox_ = nullptr;
    // The limits were not read when the editor opened (no row selected, or
    // the table could not be read): the boxes are off and a save leaves the
    // stored limits alone.
    bool limitsUnknown_ = true;
};
