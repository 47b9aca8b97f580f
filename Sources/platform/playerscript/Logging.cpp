#include "platform/playerscript/Logging.h"

namespace zivra::platform::playerscript {

Q_LOGGING_CATEGORY(playerScriptLog, "zivra.playerscript", QtInfoMsg)

} // namespace zivra::platform::playerscript
