#pragma once

#include <QWidget>

// The window "dbase" (数据库维护): backup of the database and deletion of records.
class DbaseWindow : public QWidget {
    Q_OBJECT
public:
    explicit DbaseWindow(QWidget *parent = nullptr);
};
