#pragma once

#include "http/html/Attributes.h"

#include <span>
#include <string_view>

namespace vuzozar {

// One attribute global and the attribute name it is written as.
struct NamedAttribute {
    const attr::Attribute* value;
    std::string_view name;
};

// The 125 attribute globals that stand for an attribute, in declaration
// order (`attr::inner` is not among them): entry i is the global of slot i.
// Any thread; the table lives for the whole process. Never throws.
std::span<const NamedAttribute> namedAttributes() noexcept;

} // namespace vuzozar
