// Shared entry point of the camera program's test executables: every test
// process gets a fresh, empty configuration folder (so the user's real
// "Pomvira.ini" is never read or written) and a Qt application object.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    QTemporaryDir configDir;
    setenv("XDG_CONFIG_HOME", configDir.path().toLocal8Bit().constData(), 1);
    testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
