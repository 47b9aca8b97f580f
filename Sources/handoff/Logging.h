#pragma once

#include <QLoggingCategory>

namespace zivra::handoff {

// The Handoff layer's log category, "zivra.handoff". Usable from any thread
// except the real-time paths, which never log.
Q_DECLARE_LOGGING_CATEGORY(handoffLog)

} // namespace zivra::handoff
