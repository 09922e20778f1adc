#pragma once

#include <QList>
#include <QString>

#include <utility>

class QLineEdit;
class QWidget;

// Creates a control of type W with its name, the objectName by which the
// program and its tests know it: the arguments are those of W's constructor
// before the parent, as in
//
//     auto *acquireButton = makeControl<QPushButton>(this, "Command3", QStringLiteral("采集"));
//     auto *list = makeControl<QTreeView>(this, "ListView1");
template <class W, class Parent, class... Args>
W *makeControl(Parent *parent, const char *name, Args &&...args) {
    auto *w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// Puts text boxes into the runs of blanks of a caption, in order: the boxes
// of "每     秒自动更新" or "温度(黄线)从：      度到      度" sit in the gaps
// of their label or check box, and follow it when it moves or changes font.
void placeInGaps(QWidget *host, const QList<QLineEdit *> &edits);
