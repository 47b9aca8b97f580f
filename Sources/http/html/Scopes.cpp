#include "http/html/Scopes.h"

#include "http/html/ScopesBuffer.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <span>
#include <string>

namespace vuzozar {

namespace {

// Where the page of the calling thread starts in its buffer: at 0, or where
// the children of the element whose closure builds the page start.
std::size_t pageStart(const std::string& buffer) {
    return std::min(OpenElement::contentStartOfInnermost(), buffer.size());
}

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

} // namespace

HttpRequestHandler scopes(Closure page) {
    return [page = std::move(page)](const HttpRequestPtr&) {
        std::string& buffer = scopesBuffer();
        buffer.resize(pageStart(buffer));
        page();
        // The server calls the writer on this thread right after this
        // handler, so the thread's buffer still holds this page then.
        return HttpResponse::raw(200, "OK", HttpHeaders{{"Content-Type", "text/html"}},
                                 [](HttpResponseBodyWriter& writer) {
                                     const std::string& text = scopesBuffer();
                                     std::string document = "<!DOCTYPE html>";
                                     document.append(text, pageStart(text));
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
