#include "records/DbaseWindow.h"

DbaseWindow::DbaseWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("dbase"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("数据库维护"));
}
