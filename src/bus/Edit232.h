#pragma once

#include <QWidget>

// The window "edit232" (串口设置): chooses port and speed, opens or closes the
// main window's port and stores the choice for the next start.
class Edit232 : public QWidget {
    Q_OBJECT
public:
    explicit Edit232(QWidget *parent = nullptr);
};
