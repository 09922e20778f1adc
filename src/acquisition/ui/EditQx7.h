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
    // Asks; on Yes runs the statement, reports the change and closes. A
    // failed statement is shown (failure + what the database said) and the
    // editor stays open.
    void confirmAndRun(const QString &question, MsgIcon icon, const QString &title,
                       const QString &statement, const QString &failure);

    LiteConnection *db_;
    Selection selection_;
    QCheckBox *enabledBox_ = nullptr;  // Check1
    QCheckBox *alarmBox_ = nullptr;    // Check2
    QLineEdit *periodBox_ = nullptr;   // Text1
};
