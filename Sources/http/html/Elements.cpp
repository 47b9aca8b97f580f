#include "http/html/Elements.h"

namespace vuzozar {

void stylesheet(const Closure& content) {
    element("link", {{"rel", "stylesheet"}, {"type", "text/css"}}, content);
}

void javascript(const Closure& content) {
    element("script", {{"type", "text/javascript"}}, content);
}

} // namespace vuzozar
