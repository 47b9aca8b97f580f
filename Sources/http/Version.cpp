#include "http/Version.h"

namespace vuzozar {

const std::string& version() {
#ifdef VUZOZAR_VERSION
    static const std::string text = VUZOZAR_VERSION;
#else
    static const std::string text = "Unspecified";
#endif
    return text;
}

} // namespace vuzozar
