#pragma once

namespace zivra::soundtest {

// Creates the QCoreApplication that listener delivery needs, once per process.
void ensureApplication();

} // namespace zivra::soundtest
