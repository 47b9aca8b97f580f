#include "http/html/OpenElement.h"

#include "http/html/AttributeTable.h"
#include "http/html/ScopesBuffer.h"

#include <algorithm>
#include <stdexcept>

namespace vuzozar {

namespace {

// The calling thread's open elements form a list through their `outer_`,
// innermost first.
thread_local OpenElement* innermost = nullptr;

// The calling thread's buffer, looked up once: the entry stays where it is
// for the thread's life.
std::string& threadBuffer() {
    thread_local std::string* buffer = nullptr;
    if (buffer == nullptr) {
        buffer = &scopesBuffer();
    }
    return *buffer;
}

// Writes ` name="value"` at `out`, whose first character is already the
// blank; returns where the next attribute goes.
char* writeAttribute(char* out, std::string_view name, std::string_view value) {
    ++out;
    out = std::copy(name.begin(), name.end(), out);
    *out++ = '=';
    *out++ = '"';
    out = std::copy(value.begin(), value.end(), out);
    *out++ = '"';
    return out;
}

// Out of line: the message is built only on the rare path.
[[noreturn, gnu::noinline, gnu::cold]] void throwStartTagLost(std::string_view node) {
    throw std::logic_error("HTML builder: the buffer was cut or overwritten inside <" +
                           std::string(node) + ">, before the end of its start tag");
}

bool isAttributeOf(const AttributeState& attributes, std::string_view name) {
    auto named = namedAttributes();
    auto global = std::ranges::find(named, name, &NamedAttribute::name);
    return global != named.end() && attributes.find(global->value->slot()) != nullptr;
}

} // namespace

OpenElement::OpenElement(std::string_view node)
    : node_(node), attributes_(AttributeState::current()), buffer_(threadBuffer()),
      start_(buffer_.size()), outer_(innermost) {
    buffer_.reserve(start_ + node_.size() + 2);
    saved_ = attributes_.setAside();
    buffer_ += '<';
    buffer_ += node_;
    buffer_ += '>';
    innermost = this;
}

OpenElement::~OpenElement() {
    if (!closed_) {
        buffer_.resize(std::min(start_, buffer_.size()));
    }
    attributes_.restore(saved_);
    innermost = outer_;
}

inline bool OpenElement::startTagInPlace() const {
    if (buffer_.size() < contentStart() || buffer_[start_] != '<' ||
        buffer_[contentStart() - 1] != '>') {
        return false;
    }
    // Names are a few letters: a loop beats a call to memcmp.
    const char* written = buffer_.data() + start_ + 1;
    for (std::size_t i = 0; i < node_.size(); ++i) {
        if (written[i] != node_[i]) {
            return false;
        }
    }
    return true;
}

// The globals the closure left set, in slot order, an explicit attribute of
// the same name in place of each; then the explicit attributes of other
// names. An explicit entry without a value writes nothing.
template <class Visit>
void OpenElement::forEachWritten(const ExplicitAttributes* explicitAttributes,
                                 Visit&& visit) const {
    auto named = namedAttributes();
    attributes_.forEachAttribute([&](attr::Slot slot, const std::string& value) {
        std::string_view name = named[static_cast<std::size_t>(slot)].name;
        if (explicitAttributes != nullptr) {
            auto same = explicitAttributes->find(name);
            if (same != explicitAttributes->end()) {
                if (same->second) {
                    visit(name, *same->second);
                }
                return;
            }
        }
        visit(name, value);
    });
    if (explicitAttributes != nullptr) {
        for (const auto& [name, value] : *explicitAttributes) {
            if (value && !isAttributeOf(attributes_, name)) {
                visit(name, *value);
            }
        }
    }
}

void OpenElement::close(const ExplicitAttributes* explicitAttributes) {
    // The attributes go in at the offset of the start tag's ">". Page code
    // that cut or overwrote the buffer up to there moved that offset, and
    // writing on would put them, and the enclosing elements' ones, inside
    // other text.
    if (!startTagInPlace()) {
        throwStartTagLost(node_);
    }
    const std::string* inner = attributes_.find(attr::Slot::inner);
    if (inner != nullptr || buffer_.size() == contentStart()) {
        // No children to keep: the attributes follow the name directly.
        buffer_.resize(contentStart() - 1);
        forEachWritten(explicitAttributes, [&](std::string_view name, std::string_view value) {
            buffer_ += ' ';
            buffer_ += name;
            buffer_ += "=\"";
            buffer_ += value;
            buffer_ += '"';
        });
        buffer_ += '>';
        if (inner != nullptr) {
            buffer_ += *inner;
        }
    } else {
        std::size_t length = 0;
        forEachWritten(explicitAttributes, [&](std::string_view name, std::string_view value) {
            length += name.size() + value.size() + 4;
        });
        if (length != 0) {
            // Before the start tag's ">", moving the children up.
            std::size_t at = contentStart() - 1;
            buffer_.insert(at, length, ' ');
            char* out = buffer_.data() + at;
            forEachWritten(explicitAttributes, [&](std::string_view name, std::string_view value) {
                out = writeAttribute(out, name, value);
            });
        }
    }
    buffer_ += "</";
    buffer_ += node_;
    buffer_ += '>';
    closed_ = true;
}

std::size_t OpenElement::contentStartOfInnermost() noexcept {
    return innermost != nullptr ? innermost->contentStart() : 0;
}

} // namespace vuzozar
