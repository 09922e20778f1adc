#include "widgets/MessageBoxes.h"

#include "widgets/AppInfo.h"

#include <QMessageBox>

namespace {

class ModalMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer show(QWidget *parent, const MsgRequest &r) override {
        // Not on the stack: the window under the box may go while the box
        // is open (its frame closed meanwhile), and take the box with it.
        auto *box = new QMessageBox(parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowTitle(r.title);
        box->setText(r.text);
        switch (r.icon) {
            case MsgIcon::None:
                box->setIcon(QMessageBox::NoIcon);
                break;
            case MsgIcon::Information:
                box->setIcon(QMessageBox::Information);
                break;
            case MsgIcon::Question:
                box->setIcon(QMessageBox::Question);
                break;
            case MsgIcon::Warning:
                box->setIcon(QMessageBox::Warning);
                break;
            case MsgIcon::Critical:
                box->setIcon(QMessageBox::Critical);
                break;
        }
        if (r.buttons == MsgButtons::YesNo) {
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setDefaultButton(QMessageBox::Yes);
        } else {
            box->setStandardButtons(QMessageBox::Ok);
        }
        // exec() deletes the box when it returns; a box that went with its
        // window answers No.
        const int answer = box->exec();
        if (r.buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        return answer == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
};

ModalMessageBoxes modal;
MessageBoxes *current = &modal;

}  // namespace

MessageBoxes *installMessageBoxes(MessageBoxes *boxes) {
    MessageBoxes *previous = current;
    current = boxes ? boxes : &modal;
    return previous == &modal ? nullptr : previous;
}

QString defaultMessageTitle() {
    return QString::fromUtf8(appinfo::kTitle);
}

MsgAnswer msgBox(QWidget *parent, const QString &text, MsgButtons buttons, MsgIcon icon,
                 const QString &title) {
    MsgRequest r;
    r.text = text;
    r.title = title.isEmpty() ? defaultMessageTitle() : title;
    r.buttons = buttons;
    r.icon = icon;
    return current->show(parent, r);
}

bool askYesNo(QWidget *parent, const QString &text, MsgIcon icon, const QString &title) {
    return msgBox(parent, text, MsgButtons::YesNo, icon, title) == MsgAnswer::Yes;
}
