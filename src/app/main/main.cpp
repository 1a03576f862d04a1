#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Tessaro"));
    window.setWindowTitle(QStringLiteral("Tessaro"));
    window.resize(800, 442);
    window.show();
    return app.exec();
}
