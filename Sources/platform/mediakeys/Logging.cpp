#include "platform/mediakeys/Logging.h"

namespace zivra::platform::mediakeys {

Q_LOGGING_CATEGORY(mediaKeysLog, "zivra.mediakeys", QtInfoMsg)

} // namespace zivra::platform::mediakeys
