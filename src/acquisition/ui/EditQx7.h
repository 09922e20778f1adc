#pragma once

#include "acquisition/ModuleList.h"
#include "widgets/MessageBoxes.h"

#include <QWidget>

#include <optional>

class LiteConnection;
class QCheckBox;
class QLineEdit;

// The window "EditQx7" (修改QX-7参数): enabled flag, alarm flag and record
// period of one registered module; also removes it. It is handed the row of
// the module list it edits, and always acts on the module it shows: a row
// selected in the list later does not redirect it; showing another row fills
// it anew. After a save or a delete it reports modulesChanged() and closes.
//
// Below the design's controls, four boxes hold the module's alarm limits
// (table alarmlimit, empty for none); 保存 stores them in the same
// transaction as the module's update.
class EditQx7 : public QWidget {
    Q_OBJECT
public:
    explicit EditQx7(LiteConnection *db, QWidget *parent = nullptr);

    // Shows the module of `row` (caption, values, limits). Without a row the
    // window keeps what it shows (at first the design contents).
    void showModule(const std::optional<ModuleRow> &row);
    // The module shown, if any.
    const std::optional<ModuleRow> &module() const { return module_; }

    void save();    // 保存
    void remove();  // 删除

Q_SIGNALS:
    // A module was saved or deleted: the list shows the registry anew.
    void modulesChanged();

private:
    // Says that no module is shown; false then.
    bool haveModule();
    // Asks; on Yes runs the statements (together), reports the change and
    // closes. A failure is shown (failure + what the database said), nothing
    // is stored and the editor stays open.
    void confirmAndRun(const QString &question, MsgIcon icon, const QString &title,
                       const QStringList &statements, const QString &failure);
    void buildLimitBoxes();
    void loadLimits(const QString &address);

    LiteConnection *db_;
    std::optional<ModuleRow> module_;
    // A question is open: another save or delete waits for its answer.
    bool asking_ = false;
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
