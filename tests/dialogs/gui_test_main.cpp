// main() of the GUI tests: Qt's offscreen platform, so the real widgets run
// without a display and never appear on a developer's screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The file dialog keeps its history in the user's Qt settings; tests keep
    // theirs apart.
    QStandardPaths::setTestModeEnabled(true);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Tests close windows and go on with the next test.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
