#include "acquisition/EditQx7.h"

EditQx7::EditQx7(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("EditQx7"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("修改QX-7参数"));
}
