#pragma once

#include "bus/ReceiveRouter.h"

#include <QWidget>

class QLineEdit;

// The window "Form1" (操作单模块): Modbus commands to one module, the raw
// reply log, automatic polling over the serial port or the QX-LAN converter.
class Form1 : public QWidget, public ReceiveTarget {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    void receiveText(const QString &text) override;

private:
    QLineEdit *rcv232_ = nullptr;
};
