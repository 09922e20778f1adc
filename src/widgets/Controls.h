#pragma once

#include <QList>
#include <QString>

#include <utility>

class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QTimer;
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

// Gives a control its name (the objectName by which the program and its
// tests know it) and returns it.
template <class W>
W *named(W *w, const char *name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// The usual controls of a window, created with their names.
namespace controls {
QLabel *label(QWidget *parent, const char *name, const QString &text);
QPushButton *button(QWidget *parent, const char *name, const QString &caption);
// A text box; a width above 0 fixes its width in pixels.
QLineEdit *textBox(QWidget *parent, const char *name, const QString &text, int width = 0);
// A timer, stopped, with its interval in milliseconds.
QTimer *timer(QObject *parent, const char *name, int interval);
}  // namespace controls

// Puts text boxes into the runs of blanks of a caption, in order: the boxes
// of "每     秒自动更新" or "温度(黄线)从：      度到      度" sit in the gaps
// of their label or check box, and follow it when it moves or changes font.
void placeInGaps(QWidget *host, const QList<QLineEdit *> &edits);
