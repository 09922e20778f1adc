#include "console/Form1.h"

#include "app/Module1.h"

#include <QLineEdit>

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("操作单模块"));
    rcv232_ = new QLineEdit(this);
    rcv232_->setObjectName(QStringLiteral("rcv232"));
    rcv232_->hide();
}

Form1::~Form1() { Module1::rs232target().unregister(this); }

void Form1::receiveText(const QString &text) { rcv232_->setText(text); }
