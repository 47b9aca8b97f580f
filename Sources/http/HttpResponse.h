#pragma once

#include "http/CaseError.h"
#include "http/File.h"
#include "http/HttpRequest.h"
#include "http/Json.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vuzozar {

class Socket;

// Where a response body goes: the server hands one bound to the connection
// to the body's writer function. Every write may throw SocketError. Lent
// for the writer call only, on the connection's thread.
class HttpResponseBodyWriter {
public:
    virtual ~HttpResponseBodyWriter() = default;
    // The whole file, from its first byte.
    virtual void write(const File& file) = 0;
    virtual void write(std::span<const uint8_t> bytes) = 0;
};

using HttpBodyWriterFunction = std::function<void(HttpResponseBodyWriter&)>;

// The length of a body (-1: not known) and the function that writes it. The
// function owns what it writes, so the content may outlive the response.
struct HttpContent {
    int64_t length = -1;
    HttpBodyWriterFunction write;
};

// Why a body could not be serialised (a JSON tree JSON cannot write; a custom
// serialiser may throw it too). content() turns it into the body's text.
class SerializationError : public CaseError {
public:
    enum class Kind { invalidObject, notSupported };
    explicit SerializationError(Kind kind);
    Kind kind() const { return kind_; }
    bool operator==(const SerializationError& other) const { return kind_ == other.kind_; }

private:
    Kind kind_;
};

// A response body as a value: it owns its text, bytes, JSON tree or
// serialiser (a custom one keeps its object). Any thread, one writer at a
// time; the factories throw only std::bad_alloc.
class HttpResponseBody {
public:
    enum class Kind { json, html, htmlBody, text, data, custom };

    static HttpResponseBody json(JsonValue object);
    // A whole HTML document.
    static HttpResponseBody html(std::string text);
    // The inside of an HTML body; the document around it is added.
    static HttpResponseBody htmlBody(std::string text);
    static HttpResponseBody text(std::string text);
    static HttpResponseBody data(std::vector<uint8_t> bytes,
                                 std::optional<std::string> contentType = std::nullopt);
    // `serialize(object)` gives the body's text; it may throw.
    template <class T, class Serialize>
    static HttpResponseBody custom(T object, Serialize serialize) {
        HttpResponseBody body(Kind::custom);
        body.custom_ = [object = std::move(object), serialize = std::move(serialize)] {
            return std::string(serialize(object));
        };
        return body;
    }

    Kind kind() const { return kind_; }
    const std::optional<std::string>& contentType() const { return contentType_; }

    // The bytes are made here, once; a failed serialisation becomes the body
    // "Serialisation error: " and the error. Never throws.
    HttpContent content() const;

private:
    explicit HttpResponseBody(Kind kind, std::string text = std::string())
        : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
    JsonValue json_;
    std::vector<uint8_t> data_;
    std::optional<std::string> contentType_;
    std::function<std::string()> custom_;
};

// What a handler returns, by value; it owns its body, headers, writer and
// socket handler. Built on any thread (handlers run on connection threads);
// nothing here throws but std::bad_alloc.
class HttpResponse {
public:
    // Runs on the connection's thread once the 101 head is written; the
    // connection serves no more HTTP afterwards.
    using SocketHandler = std::function<void(std::shared_ptr<Socket>)>;

    enum class Kind {
        switchProtocols,
        ok,
        created,
        accepted,
        movedPermanently,
        movedTemporarily,
        badRequest,
        unauthorized,
        forbidden,
        notFound,
        notAcceptable,
        tooManyRequests,
        internalServerError,
        raw,
    };

    static HttpResponse switchProtocols(HttpHeaders headers, SocketHandler handler);
    static HttpResponse ok(HttpResponseBody body);
    static HttpResponse created() { return HttpResponse(Kind::created); }
    static HttpResponse accepted() { return HttpResponse(Kind::accepted); }
    static HttpResponse movedPermanently(std::string location);
    static HttpResponse movedTemporarily(std::string location);
    static HttpResponse badRequest(std::optional<HttpResponseBody> body = std::nullopt);
    static HttpResponse unauthorized() { return HttpResponse(Kind::unauthorized); }
    static HttpResponse forbidden() { return HttpResponse(Kind::forbidden); }
    static HttpResponse notFound() { return HttpResponse(Kind::notFound); }
    static HttpResponse notAcceptable() { return HttpResponse(Kind::notAcceptable); }
    static HttpResponse tooManyRequests() { return HttpResponse(Kind::tooManyRequests); }
    static HttpResponse internalServerError() { return HttpResponse(Kind::internalServerError); }
    // Any status; no length is announced and the writer (if any) decides
    // what follows the head.
    static HttpResponse raw(int code, std::string phrase,
                            std::optional<HttpHeaders> headers = std::nullopt,
                            HttpBodyWriterFunction writer = nullptr);

    Kind kind() const { return kind_; }
    int statusCode() const;
    std::string reasonPhrase() const;
    // "Server" and the case's own headers; no "Content-Length".
    HttpHeaders headers() const;
    HttpContent content() const;
    const SocketHandler& socketHandler() const { return socketHandler_; }

private:
    explicit HttpResponse(Kind kind, std::string location = std::string())
        : kind_(kind), location_(std::move(location)) {}

    Kind kind_;
    std::optional<HttpResponseBody> body_;
    HttpHeaders headers_;
    std::string location_;
    int code_ = 0;
    std::string phrase_;
    HttpBodyWriterFunction writer_;
    SocketHandler socketHandler_;
};

} // namespace vuzozar
