#pragma once

#include <QWidget>

// The window "AnaQx7" (提取温湿度采集记录): the record list with its filters and summary figures.
class AnaQx7 : public QWidget {
    Q_OBJECT
public:
    explicit AnaQx7(QWidget *parent = nullptr);
};
