#pragma once

#include <QLoggingCategory>

namespace zivra::platform::mediakeys {

// The media keys' log category, "zivra.mediakeys". Usable from any thread except the real-time
// paths (capture, render, tap hand-off), which never log.
Q_DECLARE_LOGGING_CATEGORY(mediaKeysLog)

} // namespace zivra::platform::mediakeys
