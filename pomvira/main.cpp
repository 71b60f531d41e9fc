// Program entry of the camera program.
#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ombra Viewer"));
    return 0;
}
