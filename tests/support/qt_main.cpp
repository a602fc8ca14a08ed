// gtest main of the tests that need a Qt application for their whole run (event loops, timers,
// widgets); GUI tests run on the offscreen platform that the test environment selects.
#include <gtest/gtest.h>

#ifdef TRVAXX_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
