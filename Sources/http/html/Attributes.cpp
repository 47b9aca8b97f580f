#include "http/html/Attributes.h"

#include "http/html/AttributeState.h"

namespace vuzozar::attr {

const Attribute& Attribute::operator=(std::string_view value) const {
    AttributeState::current().set(slot_, value);
    return *this;
}

void Attribute::reset() const noexcept {
    AttributeState::current().reset(slot_);
}

bool Attribute::has_value() const noexcept {
    return AttributeState::current().find(slot_) != nullptr;
}

bool Attribute::operator==(std::string_view value) const noexcept {
    const std::string* own = AttributeState::current().find(slot_);
    return own != nullptr && *own == value;
}

} // namespace vuzozar::attr
