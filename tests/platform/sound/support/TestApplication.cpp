#include "tests/platform/sound/support/TestApplication.h"

#include <QCoreApplication>

namespace zivra::platform::sound {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "zivra-sound-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

} // namespace zivra::platform::sound
