#include <QCoreApplication>

#include <gtest/gtest.h>

// The main of the tests whose code queues work on the main thread (the
// engine's device changes and meter readings, the media controller) or talks
// D-Bus: they run with an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
