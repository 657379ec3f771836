#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // Offscreen, on two monitors side by side: a landscape desktop and a
    // portrait one, so full screen can be tried on both.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" KAVREL_TEST_SOURCE_DIR "/tests/support/monitors.json");
    }
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
