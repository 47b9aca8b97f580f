#include "http/html/AttributeTable.h"

#include <array>

namespace vuzozar {

namespace {

#define VUZOZAR_NAMED_ATTRIBUTE(global, written) NamedAttribute{&attr::global, written},
constexpr std::array table{VUZOZAR_HTML_ATTRIBUTES(VUZOZAR_NAMED_ATTRIBUTE)};
#undef VUZOZAR_NAMED_ATTRIBUTE

static_assert(table.size() + 1 == attr::slotCount);

} // namespace

std::span<const NamedAttribute> namedAttributes() noexcept {
    return table;
}

} // namespace vuzozar
