#pragma once

#include "widgets/MessageBoxes.h"

#include <QList>
#include <QStringList>
#include <functional>

// Answers message boxes instead of an operator and remembers every box.
// Installed for its lifetime.
class FakeMessageBoxes : public MessageBoxes {
public:
    FakeMessageBoxes() : previous_(installMessageBoxes(this)) {}
    ~FakeMessageBoxes() override { installMessageBoxes(previous_); }

    MsgAnswer show(QWidget *, const MsgRequest &request) override {
        shown << request;
        if (onShow)
            onShow(request);
        if (request.buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
    }

    // Answers for the next Yes/No questions, in order; after them every
    // question gets `defaultAnswer`.
    QList<MsgAnswer> answers;
    MsgAnswer defaultAnswer = MsgAnswer::Yes;
    // Runs while a box "is open", before it is answered.
    std::function<void(const MsgRequest &)> onShow;

    QList<MsgRequest> shown;
    QStringList texts() const {
        QStringList out;
        for (const MsgRequest &r : shown) out << r.text;
        return out;
    }
    void clear() { shown.clear(); }

private:
    MessageBoxes *previous_;
};
