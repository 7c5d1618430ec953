// The start-up baseline: a bare Qt Widgets window of the main window's size, shown and left
// open. bench/startup.sh measures the time until it is mapped, beside Snipora's, in one run.

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare-window"));
    window.resize(800, 560);
    window.show();
    return app.exec();
}
