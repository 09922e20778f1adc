#pragma once

#include <QString>

class QWidget;

// Every message box of the program goes through here, so that tests can put
// an answering machine in place of the operator.

enum class MsgIcon { None, Information, Question, Warning, Critical };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

struct MsgRequest {
    QString text;
    QString title;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MsgAnswer show(QWidget *parent, const MsgRequest &request) = 0;
};

// Puts `boxes` in charge (nullptr: the real modal QMessageBox again) and
// returns the one that was in charge before.
MessageBoxes *installMessageBoxes(MessageBoxes *boxes);

// The title of boxes that have none of their own: the program's title.
QString defaultMessageTitle();

// Shows one box. An empty title means the program's title.
MsgAnswer msgBox(QWidget *parent, const QString &text, MsgButtons buttons = MsgButtons::Ok,
                 MsgIcon icon = MsgIcon::None, const QString &title = QString());

// Yes/No question; true on Yes.
bool askYesNo(QWidget *parent, const QString &text, MsgIcon icon, const QString &title);
