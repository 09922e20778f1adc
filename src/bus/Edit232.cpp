#include "bus/Edit232.h"

Edit232::Edit232(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("edit232"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("串口设置"));
}
