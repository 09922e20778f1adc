#include "support/FakeMessageBoxes.h"

FakeMessageBoxes::FakeMessageBoxes() {
    previous_ = installMessageBoxes(this);
}

FakeMessageBoxes::~FakeMessageBoxes() {
    installMessageBoxes(previous_);
}

MsgAnswer FakeMessageBoxes::show(QWidget *, const MsgRequest &request) {
    shown << request;
    if (onShow)
        onShow(request);
    if (request.buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    if (!answers.isEmpty())
        return answers.takeFirst();
    return defaultAnswer;
}

QStringList FakeMessageBoxes::texts() const {
    QStringList out;
    for (const MsgRequest &r : shown) out << r.text;
    return out;
}
