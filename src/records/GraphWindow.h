#pragma once

#include <QWidget>

// The window "graph" (温湿度图形曲线): temperature and humidity curves of the last record query.
class GraphWindow : public QWidget {
    Q_OBJECT
public:
    explicit GraphWindow(QWidget *parent = nullptr);
};
