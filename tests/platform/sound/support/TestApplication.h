#pragma once

namespace zivra::platform::sound {

// Creates the QCoreApplication that listener delivery needs, once per process.
void ensureApplication();

} // namespace zivra::platform::sound
