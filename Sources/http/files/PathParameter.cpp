#include "http/files/PathParameter.h"

namespace vuzozar {

std::optional<std::string> pathParameter(const HttpRequest& request) {
    if (request.params.empty()) {
        return std::nullopt;
    }
    return request.params.begin()->second;
}

} // namespace vuzozar
