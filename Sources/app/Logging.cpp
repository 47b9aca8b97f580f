#include "app/Logging.h"

namespace zivra::app {

Q_LOGGING_CATEGORY(appLog, "zivra.app", QtInfoMsg)

} // namespace zivra::app
