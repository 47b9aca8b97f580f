#include <QCoreApplication>

#include <gtest/gtest.h>

// The engine answers device changes and meter readings in main-loop tasks, so
// its tests run with an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
