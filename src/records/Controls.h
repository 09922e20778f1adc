#pragma once

#include <QList>
#include <QString>

class QLineEdit;
class QWidget;

// Gives a control its name (the objectName by which the program and its
// tests know it) and returns it.
template <class W>
W *named(W *w, const char *name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// Puts text boxes into the runs of blanks of a caption, in order: the boxes
// of "每     秒自动更新" or "温度(黄线)从：      度到      度" sit in the gaps
// of their label or check box, and follow it when it moves or changes font.
void placeInGaps(QWidget *host, const QList<QLineEdit *> &edits);
