#pragma once

#include "http/html/AttributeList.h"
#include "http/html/AttributeState.h"

#include <string>
#include <string_view>

// The attribute globals of the HTML builder (html/Scopes.h), in their fixed
// order (html/AttributeList.h). Inside an element's closure, a global given a
// value becomes an attribute of that element, written under the global's own
// name except `idd` ("id"), `classs` ("class"), `forr` ("for"), `deferr`
// ("defer"), `acceptt` ("accept"), `httpEquiv` ("http-equiv"), `dataText`
// ("data-text") and `acceptCharset` ("accept-charset"); `Name` and `name` are
// two attributes. `inner` is no attribute: set, it is the element's content.
//
// Names: the globals live in `vuzozar::attr`, because fourteen of them
// (`abbr`, `cite`, `code`, `content`, `data`, `dir`, `frame`, `label`, `link`,
// `object`, `span`, `style`, `summary`, `title`) are element functions too;
// a name that is a C++ keyword takes a trailing underscore (`char_` here,
// `template_` among the elements), as `delete_` and `continue_` do elsewhere
// in the module.
//
// Threads: each global holds one value per thread, so page builds on several
// threads never see each other's attributes and need no lock. A value set
// outside every element stays on the thread that set it.
namespace vuzozar::attr {

// One attribute global: an optional string of the calling thread, set by
// assigning a string (`attr::href = route;`) and cleared by reset(). The
// object itself is a constant that names the slot; every operation reads or
// writes the calling thread's value, so it is const.
// Any thread, for that thread's value only. Assigning copies the text into
// storage the thread keeps for this global (throws only std::bad_alloc, when
// that storage must grow); the others never throw.
class Attribute {
public:
    constexpr explicit Attribute(Slot slot) : slot_(slot) {}

    const Attribute& operator=(std::string_view value) const {
        AttributeState::current().set(slot_, value);
        return *this;
    }
    void reset() const noexcept { AttributeState::current().reset(slot_); }
    bool has_value() const noexcept { return AttributeState::current().find(slot_) != nullptr; }
    // Whether the calling thread's value is set and equal to `value`.
    bool operator==(std::string_view value) const noexcept {
        const std::string* own = AttributeState::current().find(slot_);
        return own != nullptr && *own == value;
    }

    constexpr Slot slot() const { return slot_; }

private:
    Slot slot_;
};

#define VUZOZAR_ATTRIBUTE_GLOBAL(global, written) inline constexpr Attribute global{Slot::global};
VUZOZAR_HTML_ATTRIBUTES(VUZOZAR_ATTRIBUTE_GLOBAL)
#undef VUZOZAR_ATTRIBUTE_GLOBAL

inline constexpr Attribute inner{Slot::inner};

} // namespace vuzozar::attr
