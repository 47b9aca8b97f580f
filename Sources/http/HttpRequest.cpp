#include "http/HttpRequest.h"

#include "http/Strings.h"

#include <algorithm>

namespace vuzozar {

bool HttpRequest::hasTokenForHeader(const std::string& headerName, const std::string& token) const {
    auto header = headers.find(headerName);
    if (header == headers.end()) {
        return false;
    }
    auto pieces = splitKeepingEmpty(header->second, ',');
    return std::any_of(pieces.begin(), pieces.end(),
                       [&](const std::string& piece) { return lowercased(trim(piece)) == token; });
}

QueryParams HttpRequest::parseUrlencodedForm() const {
    auto contentType = headers.find("content-type");
    if (contentType == headers.end()) {
        return {};
    }
    auto typePieces = splitKeepingEmpty(contentType->second, ';');
    if (trim(typePieces.front()) != "application/x-www-form-urlencoded") {
        return {};
    }
    std::string text(body.begin(), body.end());
    if (!isValidUtf8(text)) {
        return {};
    }
    QueryParams pairs;
    for (const auto& piece : splitKeepingEmpty(text, '&')) {
        auto parts = splitKeepingEmpty(piece, '=');
        std::optional<std::string> name, value;
        if (parts.size() == 2) {
            std::replace(parts[0].begin(), parts[0].end(), '+', ' ');
            std::replace(parts[1].begin(), parts[1].end(), '+', ' ');
            name = percentDecode(parts[0]);
            value = percentDecode(parts[1]);
        }
        if (name && value) {
            pairs.emplace_back(std::move(*name), std::move(*value));
        } else {
            pairs.emplace_back(std::string(), std::string());
        }
    }
    return pairs;
}

} // namespace vuzozar
