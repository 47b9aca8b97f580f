#include "http/CaseError.h"

namespace vuzozar {

CaseError::CaseError(std::string_view caseName, std::optional<std::string> message)
    : message_(message.value_or(std::string())), description_(caseName) {
    if (message) {
        description_ += "(\"" + *message + "\")";
    }
}

} // namespace vuzozar
