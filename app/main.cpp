// QELZAV: lists a PMS's extract files and uploads them by FTP.
#include <QApplication>

#include "app/MainWindow.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QELZAV"));
    TForm1 form;
    form.show();
    return application.exec();
}
