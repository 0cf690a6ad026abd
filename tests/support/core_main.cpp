#include <QCoreApplication>
#include <gtest/gtest.h>

// Jobs report to the thread that runs the event loop, so every test program owns one.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
