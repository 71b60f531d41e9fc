// Shared entry point of the camera program's test executables: every test
// process gets a fresh, empty configuration folder (so the user's real
// "Pomvira.ini" is never read or written) and a Qt application object.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    // Listing the tests (done by the build) needs no window system.
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) {
            testing::InitGoogleMock(&argc, argv);
            return RUN_ALL_TESTS();
        }
    QTemporaryDir configDir;
    setenv("XDG_CONFIG_HOME", configDir.path().toLocal8Bit().constData(), 1);
    testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
