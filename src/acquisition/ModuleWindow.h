#pragma once

#include "bus/ReceiveRouter.h"

#include <QWidget>

class QLineEdit;

// The window "module" (多模块采集): the registry list, the polling cycle, the
// record schedule, the bus search and the address change.
class ModuleWindow : public QWidget, public ReceiveTarget {
    Q_OBJECT
public:
    explicit ModuleWindow(QWidget *parent = nullptr);
    ~ModuleWindow() override;

    void receiveText(const QString &text) override;

private:
    QLineEdit *rcv232_ = nullptr;
};
