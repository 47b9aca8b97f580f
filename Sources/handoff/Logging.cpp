#include "handoff/Logging.h"

namespace zivra::handoff {

Q_LOGGING_CATEGORY(handoffLog, "zivra.handoff", QtInfoMsg)

} // namespace zivra::handoff
