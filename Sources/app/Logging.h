#pragma once

#include <QLoggingCategory>

namespace zivra::app {

// The tray application's log category, "zivra.app". Usable from any thread except the real-time
// paths (capture, render, tap hand-off), which never log.
Q_DECLARE_LOGGING_CATEGORY(appLog)

} // namespace zivra::app
