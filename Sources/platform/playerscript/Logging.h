#pragma once

#include <QLoggingCategory>

namespace zivra::platform::playerscript {

// The player scripts' log category, "zivra.playerscript". Usable from any thread except the
// real-time paths (capture, render, tap hand-off), which never log.
Q_DECLARE_LOGGING_CATEGORY(playerScriptLog)

} // namespace zivra::platform::playerscript
