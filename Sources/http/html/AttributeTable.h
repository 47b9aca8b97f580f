#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vuzozar {

// One attribute global and the attribute name it is written as.
struct NamedAttribute {
    std::optional<std::string>* value;
    std::string_view name;
};

// The 125 attribute globals that stand for an attribute, in declaration
// order (`attr::inner` is not among them). Any thread; the table lives for
// the whole process. Never throws.
std::span<const NamedAttribute> namedAttributes();

} // namespace vuzozar
