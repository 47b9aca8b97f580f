#include "audio/Logging.h"

namespace zivra::audio {

Q_LOGGING_CATEGORY(engineLog, "zivra.engine", QtInfoMsg)

} // namespace zivra::audio
