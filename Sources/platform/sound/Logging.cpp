#include "platform/sound/Logging.h"

namespace zivra::platform::sound {

Q_LOGGING_CATEGORY(soundLog, "zivra.sound", QtInfoMsg)

} // namespace zivra::platform::sound
