#include <QCoreApplication>

#include <gtest/gtest.h>

// Tests of code that queues work on the main thread or talks D-Bus need a Qt application.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
