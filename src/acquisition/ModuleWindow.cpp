#include "acquisition/ModuleWindow.h"

#include "app/Module1.h"

#include <QLineEdit>

ModuleWindow::ModuleWindow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("module"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("多模块采集"));
    rcv232_ = new QLineEdit(QStringLiteral("Text1"), this);
    rcv232_->setObjectName(QStringLiteral("rcv232"));
    rcv232_->hide();
}

ModuleWindow::~ModuleWindow() { Module1::rs232target().unregister(this); }

void ModuleWindow::receiveText(const QString &text) { rcv232_->setText(text); }
