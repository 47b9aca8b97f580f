#pragma once

#include "http/html/AttributeState.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vuzozar {

// Attributes given to an element directly, by name; an entry without a value
// keeps that attribute off the element.
using ExplicitAttributes = std::map<std::string, std::optional<std::string>, std::less<>>;

// One element being written into the calling thread's buffer, from its start
// tag to its end tag: what the element functions (html/Scopes.h) put around
// their content closure. Made, the element has set the attribute globals
// aside and written "<node>" at the end of the buffer; the closure's children
// follow it there. close() puts the attributes the closure left set (with
// the explicit ones over them) before that ">", or replaces the children with
// `attr::inner`, and writes the end tag. Destroyed, it puts the globals back;
// an element that was not closed (its closure or close() threw) takes its
// text out again.
// Made and destroyed on one thread, innermost last, on the stack.
class OpenElement {
public:
    // `node` must outlive the element. Throws only std::bad_alloc, and then
    // changes nothing.
    explicit OpenElement(std::string_view node);
    ~OpenElement();
    OpenElement(const OpenElement&) = delete;
    OpenElement& operator=(const OpenElement&) = delete;

    // `explicitAttributes` may be null. Throws std::logic_error, writing
    // nothing, when page code has cut or overwritten the buffer before the
    // end of this element's start tag (html/ScopesBuffer.h), and
    // std::bad_alloc.
    void close(const ExplicitAttributes* explicitAttributes);

    // Where the children of the calling thread's innermost open element start
    // in its buffer (0 outside every element): a page built inside an
    // element's closure starts there, as if on a buffer of its own.
    // Never throws.
    static std::size_t contentStartOfInnermost() noexcept;

private:
    std::size_t contentStart() const { return start_ + node_.size() + 2; }
    // Whether "<node>" still stands where the element wrote it.
    bool startTagInPlace() const;
    template <class Visit>
    void forEachWritten(const ExplicitAttributes* explicitAttributes, Visit&& visit) const;

    std::string_view node_;
    AttributeState& attributes_;
    std::string& buffer_;
    std::size_t start_;
    AttributeState::Mask saved_;
    OpenElement* outer_;
    bool closed_ = false;
};

} // namespace vuzozar
