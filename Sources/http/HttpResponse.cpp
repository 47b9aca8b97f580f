#include "http/HttpResponse.h"

#include "http/Version.h"

namespace vuzozar {

SerializationError::SerializationError(Kind kind)
    : CaseError(kind == Kind::invalidObject ? "invalidObject" : "notSupported", std::nullopt),
      kind_(kind) {}

HttpResponseBody HttpResponseBody::json(JsonValue object) {
    HttpResponseBody body(Kind::json);
    body.json_ = std::move(object);
    return body;
}

HttpResponseBody HttpResponseBody::html(std::string text) {
    return HttpResponseBody(Kind::html, std::move(text));
}

HttpResponseBody HttpResponseBody::htmlBody(std::string text) {
    return HttpResponseBody(Kind::htmlBody, std::move(text));
}

HttpResponseBody HttpResponseBody::text(std::string text) {
    return HttpResponseBody(Kind::text, std::move(text));
}

HttpResponseBody HttpResponseBody::data(std::vector<uint8_t> bytes,
                                        std::optional<std::string> contentType) {
    HttpResponseBody body(Kind::data);
    body.data_ = std::move(bytes);
    body.contentType_ = std::move(contentType);
    return body;
}

namespace {

std::string serialisationErrorText(const std::exception& error) {
    return std::string("Serialisation error: ") + error.what();
}

} // namespace

HttpContent HttpResponseBody::content() const {
    std::vector<uint8_t> bytes;
    switch (kind_) {
    case Kind::json:
        if (auto json = json_.serialized()) {
            bytes.assign(json->begin(), json->end());
        } else {
            auto text =
                serialisationErrorText(SerializationError(SerializationError::Kind::invalidObject));
            bytes.assign(text.begin(), text.end());
        }
        break;
    case Kind::html:
    case Kind::text:
        bytes.assign(text_.begin(), text_.end());
        break;
    case Kind::htmlBody: {
        std::string document = "<html><meta charset=\"UTF-8\"><body>" + text_ + "</body></html>";
        bytes.assign(document.begin(), document.end());
        break;
    }
    case Kind::data:
        bytes = data_;
        break;
    case Kind::custom: {
        std::string text;
        try {
            text = custom_();
        } catch (const std::exception& error) {
            text = serialisationErrorText(error);
        } catch (...) {
            text = "Serialisation error: unknown error";
        }
        bytes.assign(text.begin(), text.end());
        break;
    }
    }
    auto shared = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    return {int64_t(shared->size()),
            [shared](HttpResponseBodyWriter& writer) { writer.write(*shared); }};
}

HttpResponse HttpResponse::switchProtocols(HttpHeaders headers, SocketHandler handler) {
    HttpResponse response(Kind::switchProtocols);
    response.headers_ = std::move(headers);
    response.socketHandler_ = std::move(handler);
    return response;
}

HttpResponse HttpResponse::ok(HttpResponseBody body) {
    HttpResponse response(Kind::ok);
    response.body_ = std::move(body);
    return response;
}

HttpResponse HttpResponse::movedPermanently(std::string location) {
    return HttpResponse(Kind::movedPermanently, std::move(location));
}

HttpResponse HttpResponse::movedTemporarily(std::string location) {
    return HttpResponse(Kind::movedTemporarily, std::move(location));
}

HttpResponse HttpResponse::badRequest(std::optional<HttpResponseBody> body) {
    HttpResponse response(Kind::badRequest);
    response.body_ = std::move(body);
    return response;
}

HttpResponse HttpResponse::raw(int code, std::string phrase, std::optional<HttpHeaders> headers,
                               HttpBodyWriterFunction writer) {
    HttpResponse response(Kind::raw);
    response.code_ = code;
    response.phrase_ = std::move(phrase);
    response.headers_ = headers.value_or(HttpHeaders());
    response.writer_ = std::move(writer);
    return response;
}

int HttpResponse::statusCode() const {
    switch (kind_) {
    case Kind::switchProtocols:
        return 101;
    case Kind::ok:
        return 200;
    case Kind::created:
        return 201;
    case Kind::accepted:
        return 202;
    case Kind::movedPermanently:
        return 301;
    case Kind::movedTemporarily:
        return 307;
    case Kind::badRequest:
        return 400;
    case Kind::unauthorized:
        return 401;
    case Kind::forbidden:
        return 403;
    case Kind::notFound:
        return 404;
    case Kind::notAcceptable:
        return 406;
    case Kind::tooManyRequests:
        return 429;
    case Kind::internalServerError:
        return 500;
    case Kind::raw:
        return code_;
    }
    return 500;
}

std::string HttpResponse::reasonPhrase() const {
    switch (kind_) {
    case Kind::switchProtocols:
        return "Switching Protocols";
    case Kind::ok:
        return "OK";
    case Kind::created:
        return "Created";
    case Kind::accepted:
        return "Accepted";
    case Kind::movedPermanently:
        return "Moved Permanently";
    case Kind::movedTemporarily:
        return "Moved Temporarily";
    case Kind::badRequest:
        return "Bad Request";
    case Kind::unauthorized:
        return "Unauthorized";
    case Kind::forbidden:
        return "Forbidden";
    case Kind::notFound:
        return "Not Found";
    case Kind::notAcceptable:
        return "Not Acceptable";
    case Kind::tooManyRequests:
        return "Too Many Requests";
    case Kind::internalServerError:
        return "Internal Server Error";
    case Kind::raw:
        return phrase_;
    }
    return "";
}

HttpHeaders HttpResponse::headers() const {
    HttpHeaders headers{{"Server", "Vuzozar " + version()}};
    switch (kind_) {
    case Kind::switchProtocols:
    case Kind::raw:
        for (const auto& [name, value] : headers_) {
            headers[name] = value;
        }
        break;
    case Kind::ok:
        if (body_->kind() == HttpResponseBody::Kind::json) {
            headers["Content-Type"] = "application/json";
        } else if (body_->kind() == HttpResponseBody::Kind::html) {
            headers["Content-Type"] = "text/html";
        } else if (body_->kind() == HttpResponseBody::Kind::data && body_->contentType()) {
            headers["Content-Type"] = *body_->contentType();
        }
        break;
    case Kind::movedPermanently:
    case Kind::movedTemporarily:
        headers["Location"] = location_;
        break;
    default:
        break;
    }
    return headers;
}

HttpContent HttpResponse::content() const {
    switch (kind_) {
    case Kind::ok:
    case Kind::badRequest:
        return body_ ? body_->content() : HttpContent{};
    case Kind::raw:
        return {-1, writer_};
    default:
        return {};
    }
}

} // namespace vuzozar
