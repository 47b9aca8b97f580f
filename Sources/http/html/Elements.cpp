#include "http/html/Elements.h"

namespace vuzozar {

const ExplicitAttributes& stylesheetAttributes() {
    static const ExplicitAttributes attributes{{"rel", "stylesheet"}, {"type", "text/css"}};
    return attributes;
}

const ExplicitAttributes& javascriptAttributes() {
    static const ExplicitAttributes attributes{{"type", "text/javascript"}};
    return attributes;
}

} // namespace vuzozar
