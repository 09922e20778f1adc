#include "app/Main.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    if (!Main())
        return 1;
    return app.exec();
}
