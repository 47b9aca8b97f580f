#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vuzozar {

using HttpHeaders = std::map<std::string, std::string>;
using QueryParams = std::vector<std::pair<std::string, std::string>>;

// One request as the parser read it and the server completed it. The
// handler, and the closures it hands on, share it by reference. Built on the
// connection's thread; read it from any thread, but nothing guards writes.
// The parsing members return copies and throw only std::bad_alloc; faults
// in the body give fewer results, not exceptions.
class HttpRequest {
public:
    // One part of a "multipart/form-data" body.
    struct MultiPart {
        HttpHeaders headers; // names lower case, values trimmed
        std::vector<uint8_t> body;

        // The "name" and "filename" parameters of "content-disposition".
        std::optional<std::string> name() const;
        std::optional<std::string> fileName() const;
    };

    std::string path;        // as sent, escapes kept, without the query
    QueryParams queryParams; // as sent, in order, duplicates kept
    std::string method;      // as sent
    HttpHeaders headers;     // names lower case, values trimmed
    std::vector<uint8_t> body;
    std::optional<std::string> address = std::string(); // the peer's numeric host
    std::map<std::string, std::string> params;          // ":name" -> decoded segment

    // Whether the header holds `token` among its comma-separated,
    // trimmed, lowercased values.
    bool hasTokenForHeader(const std::string& headerName, const std::string& token) const;

    // The pairs of an "application/x-www-form-urlencoded" body.
    QueryParams parseUrlencodedForm() const;

    // The parts of a "multipart/form-data" body, up to the first fault.
    std::vector<MultiPart> parseMultiPartFormData() const;
};

using HttpRequestPtr = std::shared_ptr<HttpRequest>;

} // namespace vuzozar
