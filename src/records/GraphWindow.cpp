#include "records/GraphWindow.h"

GraphWindow::GraphWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("graph"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("温湿度图形曲线"));
}
