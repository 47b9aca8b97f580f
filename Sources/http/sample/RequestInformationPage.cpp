#include "http/sample/SamplePages.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/Escape.h"

#include <string>

namespace vuzozar {

namespace {

void heading(const std::string& text) {
    h3([&] { attr::inner = text; });
}

// One row per entry: the name, then the value, both escaped.
template <class Entries> void pairTable(const Entries& entries) {
    table(entries, [](const auto& entry) {
        tr([&] {
            td([&] { attr::inner = escapeHtml(entry.first); });
            td([&] { attr::inner = escapeHtml(entry.second); });
        });
    });
}

} // namespace

HttpResponse requestInformationPage(const HttpRequestPtr& request) {
    return scopes([request] {
        html([&] {
            body([&] {
                heading("Address: " + escapeHtml(request->address.value_or("unknown")));
                heading("Url: " + escapeHtml(request->path));
                heading("Method: " + escapeHtml(request->method));
                heading("Query:");
                pairTable(request->queryParams);
                heading("Headers:");
                pairTable(request->headers);
                heading("Route params:");
                pairTable(request->params);
            });
        });
    })(request);
}

} // namespace vuzozar
