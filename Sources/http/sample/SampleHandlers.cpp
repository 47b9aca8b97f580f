#include "http/sample/SampleHandlers.h"

#include "http/Print.h"
#include "http/WebSocket.h"
#include "http/html/Escape.h"

#include <span>
#include <string>

namespace vuzozar {

namespace {

// Outside pages the redirects point at.
const char* const outsideHomePage = "http://www.wikipedia.org";
const char* const outsideNotFoundPage = "https://github.com/404";

HttpResponse htmlBodyAnswer(std::string text) {
    return HttpResponse::ok(HttpResponseBody::htmlBody(std::move(text)));
}

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

} // namespace

HttpResponse magicHandler(const HttpRequestPtr& request) {
    return htmlBodyAnswer("You asked for " + escapeHtml(request->path));
}

HttpResponse uploadHandler(const HttpRequestPtr& request) {
    std::string answer;
    for (const auto& part : request->parseMultiPartFormData()) {
        auto name = part.name();
        auto fileName = part.fileName();
        if (!name || !fileName) {
            continue;
        }
        answer += "Name: " + escapeHtml(*name) + " File name: " + escapeHtml(*fileName) +
                  " Size: " + std::to_string(part.body.size()) + "<br>";
    }
    return htmlBodyAnswer(std::move(answer));
}

HttpResponse loginHandler(const HttpRequestPtr& request) {
    std::string answer;
    for (const auto& [name, value] : request->parseUrlencodedForm()) {
        if (!answer.empty()) {
            answer += "<br>";
        }
        answer += escapeHtml(name) + " = " + escapeHtml(value);
    }
    return htmlBodyAnswer(std::move(answer));
}

HttpResponse rawHandler(const HttpRequestPtr&) {
    return HttpResponse::raw(200, "OK", HttpHeaders{{"XXX-Custom-Header", "value"}},
                             [](HttpResponseBodyWriter& writer) { writer.write(bytesOf("test")); });
}

HttpResponse permanentRedirectHandler(const HttpRequestPtr&) {
    return HttpResponse::movedPermanently(outsideHomePage);
}

HttpResponse temporaryRedirectHandler(const HttpRequestPtr&) {
    return HttpResponse::movedTemporarily(outsideHomePage);
}

HttpResponse longHandler(const HttpRequestPtr&) {
    std::string text;
    for (int number = 0; number < 1000; ++number) {
        text += "(" + std::to_string(number) + "),->";
    }
    return htmlBodyAnswer(std::move(text));
}

HttpResponse wildcardHandler(const HttpRequestPtr& request) {
    return htmlBodyAnswer(escapeHtml(request->path));
}

HttpResponse streamHandler(const HttpRequestPtr&) {
    return HttpResponse::raw(200, "OK", std::nullopt, [](HttpResponseBodyWriter& writer) {
        for (int chunk = 0; chunk <= 100; ++chunk) {
            writer.write(bytesOf("[chunk " + std::to_string(chunk) + "]"));
        }
    });
}

HttpRequestHandler websocketEchoHandler() {
    using Session = std::shared_ptr<WebSocketSession>;
    return websocket(
        [](const Session& session, const std::string& text) {
            session->writeFrame(bytesOf(text), WebSocketSession::OpCode::text, true);
        },
        [](const Session& session, const std::vector<uint8_t>& bytes) {
            session->writeFrame(bytes, WebSocketSession::OpCode::binary, true);
        },
        [](const Session&, const std::vector<uint8_t>&) {}, [](const Session&) {},
        [](const Session&) {});
}

HttpResponse notFoundRedirectHandler(const HttpRequestPtr&) {
    return HttpResponse::movedPermanently(outsideNotFoundPage);
}

std::optional<HttpResponse> loggingMiddleware(const HttpRequestPtr& request) {
    printLine("Middleware: " + request->address.value_or("unknown address") + " -> " +
              request->method + " -> " + request->path);
    return std::nullopt;
}

} // namespace vuzozar
