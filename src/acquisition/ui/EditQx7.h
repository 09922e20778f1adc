#pragma once

#include "widgets/MessageBoxes.h"

#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct ModuleRow;

// The window "EditQx7" (修改QX-7参数): enabled flag, alarm flag and record
// period of the module selected in the module list; also removes it. It is
// handed nothing: every action reads the row selected in the list at that
// moment.
class EditQx7 : public QWidget {
    Q_OBJECT
public:
    explicit EditQx7(QWidget *parent = nullptr);

    // Fills the window from the selected row (the design contents stay when
    // there is none).
    void Form_Load();

    void Command1_Click();  // 保存
    void Command2_Click();  // 删除
    void Command3_Click();  // 退出

private:
    // The row selected in the module list now, if the list is open and has one.
    std::optional<ModuleRow> selectedRow() const;
    // Says that nothing is selected; false then.
    bool haveSelection(const std::optional<ModuleRow> &row);
    // The list shows the registry anew after a change.
    void reloadList();
    // Asks; on Yes runs the statement, reloads the list and closes. A failed
    // statement is shown (failure + what the database said) and the editor
    // stays open.
    void confirmAndRun(const QString &question, MsgIcon icon, const QString &title,
                       const QString &statement, const QString &failure);

    QLabel *Label1_ = nullptr;
    QCheckBox *Check1_ = nullptr;
    QLabel *Label2_ = nullptr;
    QCheckBox *Check2_ = nullptr;
    QLabel *Label3_ = nullptr;
    QLineEdit *Text1_ = nullptr;
    QPushButton *Command1_ = nullptr;
    QPushButton *Command2_ = nullptr;
    QPushButton *Command3_ = nullptr;
};
