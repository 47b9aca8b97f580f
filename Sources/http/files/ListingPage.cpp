#include "http/files/ListingPage.h"

#include "http/files/UnicodeLowercase.h"
#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/Escape.h"

#include <algorithm>
#include <utility>

namespace vuzozar {

namespace {

// `name` as one path segment of a URL: every byte but the unreserved ones
// (letters, digits, "-", ".", "_", "~") as "%" and two hex digits, so that a
// "/", "?", "#", "%" or blank in a name stays part of it.
std::string percentEncodedSegment(std::string_view name) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(name.size());
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
            byte == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += digits[byte >> 4];
            encoded += digits[byte & 0x0F];
        }
    }
    return encoded;
}

} // namespace

void sortForListing(std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) {
        keyed.emplace_back(unicodeLowercased(name), std::move(name));
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& one, const auto& other) { return one.first < other.first; });
    for (size_t i = 0; i < names.size(); ++i) {
        names[i] = std::move(keyed[i].second);
    }
}

HttpResponse listingPage(const std::string& requestPath, const std::vector<std::string>& names) {
    auto page = scopes([&] {
        html([&] {
            body([&] {
                table(names, [&](const std::string& name) {
                    tr([&] {
                        td([&] {
                            a([&] {
                                attr::href =
                                    escapeHtml(requestPath + "/" + percentEncodedSegment(name));
                                attr::inner = escapeHtml(name);
                            });
                        });
                    });
                });
            });
        });
    });
    // The page reads nothing of the request.
    return page(nullptr);
}

} // namespace vuzozar
