#include "records/AnaQx7.h"

AnaQx7::AnaQx7(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("AnaQx7"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("提取温湿度采集记录"));
}
