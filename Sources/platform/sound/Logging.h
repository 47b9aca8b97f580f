#pragma once

#include <QLoggingCategory>

namespace zivra::platform::sound {

// The sound layer's log category, "zivra.sound". Usable from any thread except the real-time
// paths (capture, render, tap hand-off), which never log.
Q_DECLARE_LOGGING_CATEGORY(soundLog)

} // namespace zivra::platform::sound
