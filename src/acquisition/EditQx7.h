#pragma once

#include <QWidget>

// The window "EditQx7" (修改QX-7参数): enabled flag, alarm flag and record
// period of the module selected in the module list; also removes it.
class EditQx7 : public QWidget {
    Q_OBJECT
public:
    explicit EditQx7(QWidget *parent = nullptr);
};
