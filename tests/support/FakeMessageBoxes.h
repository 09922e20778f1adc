#pragma once

#include "widgets/MessageBoxes.h"

#include <QList>
#include <functional>

// Answers message boxes instead of an operator and remembers every box.
// Installed for its lifetime.
class FakeMessageBoxes : public MessageBoxes {
public:
    FakeMessageBoxes();
    ~FakeMessageBoxes() override;

    MsgAnswer show(QWidget *parent, const MsgRequest &request) override;

    // Answers for the next Yes/No questions, in order; after them every
    // question gets `defaultAnswer`.
    QList<MsgAnswer> answers;
    MsgAnswer defaultAnswer = MsgAnswer::Yes;
    // Runs while a box "is open", before it is answered.
    std::function<void(const MsgRequest &)> onShow;

    QList<MsgRequest> shown;
    QStringList texts() const;
    bool sawText(const QString &text) const { return texts().contains(text); }
    void clear() { shown.clear(); }

private:
    MessageBoxes *previous_ = nullptr;
};
