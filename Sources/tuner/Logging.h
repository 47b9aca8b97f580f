#pragma once

#include <QLoggingCategory>

namespace zivra::tuner {

// The tuner's log category, "zivra.tuner", showing info and above. Usable from any thread.
Q_DECLARE_LOGGING_CATEGORY(tunerLog)

} // namespace zivra::tuner
