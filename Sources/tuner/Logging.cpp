#include "tuner/Logging.h"

namespace zivra::tuner {

Q_LOGGING_CATEGORY(tunerLog, "zivra.tuner", QtInfoMsg)

} // namespace zivra::tuner
