#pragma once

#include <QList>

class QLineEdit;
class QWidget;

// Puts text boxes into the runs of blanks of a caption, in order: the boxes
// of "每     秒自动更新" or "温度(黄线)从：      度到      度" sit in the gaps
// of their label or check box, and follow it when it moves or changes font.
void placeInGaps(QWidget *host, const QList<QLineEdit *> &edits);
