#pragma once

#include <QLoggingCategory>

namespace zivra::audio {

// The engine's log category, "zivra.engine". Usable from any thread except the real-time
// paths (capture, render, tap hand-off), which never log.
Q_DECLARE_LOGGING_CATEGORY(engineLog)

} // namespace zivra::audio
