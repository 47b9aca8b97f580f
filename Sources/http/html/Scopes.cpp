#include "http/html/Scopes.h"

#include "http/html/AttributeTable.h"
#include "http/html/Attributes.h"
#include "http/html/ScopesBuffer.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <vector>

namespace vuzozar {

namespace {

// The attribute globals are shared by every thread; page builds and element
// calls hold this while they use them. Recursive: elements nest, and a page
// may be built from inside another element's closure.
std::recursive_mutex& builderLock() {
    static std::recursive_mutex lock;
    return lock;
}

// Takes every attribute global (`inner` included) and leaves it empty; puts
// them all back when it goes, also when the element's closure throws.
class SavedGlobals {
public:
    SavedGlobals() {
        auto named = namedAttributes();
        saved_.reserve(named.size());
        for (const NamedAttribute& attribute : named) {
            saved_.push_back(std::exchange(*attribute.value, std::nullopt));
        }
        savedInner_ = std::exchange(attr::inner, std::nullopt);
    }
    ~SavedGlobals() {
        auto named = namedAttributes();
        for (size_t index = 0; index < named.size(); ++index) {
            *named[index].value = std::move(saved_[index]);
        }
        attr::inner = std::move(savedInner_);
    }
    SavedGlobals(const SavedGlobals&) = delete;
    SavedGlobals& operator=(const SavedGlobals&) = delete;

private:
    std::vector<std::optional<std::string>> saved_;
    std::optional<std::string> savedInner_;
};

// The globals the closure left set, in declaration order, with the explicit
// attributes put over them (new names at the end).
MergedAttributes mergedAttributes(const ExplicitAttributes& explicitAttributes) {
    MergedAttributes merged;
    for (const NamedAttribute& attribute : namedAttributes()) {
        if (attribute.value->has_value()) {
            merged.emplace_back(attribute.name, *attribute.value);
        }
    }
    for (const auto& [name, value] : explicitAttributes) {
        auto same = std::find_if(merged.begin(), merged.end(),
                                 [&key = name](const auto& entry) { return entry.first == key; });
        if (same != merged.end()) {
            same->second = value;
        } else {
            merged.emplace_back(name, value);
        }
    }
    return merged;
}

void evaluate(std::string_view node, const ExplicitAttributes& explicitAttributes,
              const Closure& content) {
    std::lock_guard lock(builderLock());
    SavedGlobals saved;
    std::string& buffer = scopesBuffer();
    std::string text = std::move(buffer);
    text += '<';
    text += node;
    buffer.clear();
    content();
    text += attributeString(mergedAttributes(explicitAttributes));
    text += '>';
    text += attr::inner ? *attr::inner : buffer;
    text += "</";
    text += node;
    text += '>';
    buffer = std::move(text);
}

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

} // namespace

std::string attributeString(const MergedAttributes& attributes) {
    std::string text;
    for (const auto& [name, value] : attributes) {
        if (value) {
            text += ' ';
            text += name;
            text += "=\"";
            text += *value;
            text += '"';
        }
    }
    return text;
}

void element(std::string_view node, const Closure& content) {
    evaluate(node, ExplicitAttributes(), content);
}

void element(std::string_view node, const ExplicitAttributes& attributes, const Closure& content) {
    evaluate(node, attributes, content);
}

HttpRequestHandler scopes(Closure page) {
    return [page = std::move(page)](const HttpRequestPtr&) {
        {
            std::lock_guard lock(builderLock());
            scopesBuffer().clear();
            page();
        }
        // The server calls the writer on this thread right after this
        // handler, so the thread's buffer still holds this page then.
        return HttpResponse::raw(200, "OK", HttpHeaders{{"Content-Type", "text/html"}},
                                 [](HttpResponseBodyWriter& writer) {
                                     std::string document = "<!DOCTYPE html>" + scopesBuffer();
                                     try {
                                         writer.write(bytesOf(document));
                                     } catch (const std::exception&) {
                                         // The client is gone; the server ends
                                         // the connection after a raw answer.
                                     }
                                 });
    };
}

} // namespace vuzozar
