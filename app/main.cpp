// Starts the window. The command line is not read: the window is the whole program.
#include <QApplication>
#include <QIcon>

#include "app/main_window.h"
#include "app/qt_dialogs.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvelin"));

    QIcon icon;
    for (const char *size : {"16", "32", "48"}) {
        icon.addFile(QStringLiteral(":/tarvelin/icons/tarvelin-%1.png").arg(QLatin1String(size)));
    }
    icon.addFile(QStringLiteral(":/tarvelin/icons/tarvelin.svg"));
    QApplication::setWindowIcon(icon);

    tarvelin::QtDialogs dialogs;
    tarvelin::frmStep1 window(dialogs);
    dialogs.SetOwner(&window);
    window.show();
    return app.exec();
}
