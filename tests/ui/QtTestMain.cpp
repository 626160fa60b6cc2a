// GoogleTest with one QApplication for the whole run, on the offscreen
// platform unless the environment names another.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The dialog remembers the adapter chosen in the user's configuration
    // directory: the tests' choices go to one of their own, not the user's.
    QTemporaryDir configuration(QDir::tempPath() + "/kvq-ui-config-XXXXXX");
    if (configuration.isValid()) qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
