// A server of the module for the real-peer tests: listens on 127.0.0.1 on a
// port the system picks, prints "port N", serves until SIGTERM or SIGINT.
#include "tests/http/ServeUntilSignal.h"

#include "http/HttpServer.h"
#include "http/Print.h"
#include "http/WebSocket.h"

namespace vuzozar {

namespace {

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

HttpResponse text(const std::string& body) {
    return HttpResponse::ok(HttpResponseBody::text(body));
}

std::string pairsText(const QueryParams& pairs) {
    std::string text;
    for (const auto& [name, value] : pairs) {
        text += name + "=" + value + ";";
    }
    return text;
}

void addRoutes(HttpServer& server) {
    server.GET["/hello"] = [](const HttpRequestPtr&) { return text("Hello, World!"); };
    server.GET["/json"] = [](const HttpRequestPtr&) {
        return HttpResponse::ok(HttpResponseBody::json(
            JsonValue::Object{{"answer", 42}, {"list", JsonValue::Array{1, "two", nullptr}}}));
    };
    server.GET["/html"] = [](const HttpRequestPtr&) {
        return HttpResponse::ok(HttpResponseBody::html("<!DOCTYPE html><p>page</p>"));
    };
    server.GET["/body"] = [](const HttpRequestPtr&) {
        return HttpResponse::ok(HttpResponseBody::htmlBody("Hi"));
    };
    server.POST["/echo"] = [](const HttpRequestPtr& request) {
        auto type = request->headers.find("content-type");
        return HttpResponse::ok(HttpResponseBody::data(
            request->body,
            type == request->headers.end() ? std::nullopt : std::optional(type->second)));
    };
    server.POST["/form"] = [](const HttpRequestPtr& request) {
        return text(pairsText(request->parseUrlencodedForm()));
    };
    server.POST["/upload"] = [](const HttpRequestPtr& request) {
        std::string summary;
        for (const auto& part : request->parseMultiPartFormData()) {
            summary += part.name().value_or("?") + "|" + part.fileName().value_or("-") + "|" +
                       std::to_string(part.body.size()) + "|" +
                       std::string(part.body.begin(), part.body.end()) + "\n";
        }
        return text(summary);
    };
    server["/raw"] = [](const HttpRequestPtr&) {
        return HttpResponse::raw(
            200, "OK", HttpHeaders{{"XXX-Custom-Header", "value"}},
            [](HttpResponseBodyWriter& writer) { writer.write(bytesOf("test")); });
    };
    server["/stream"] = [](const HttpRequestPtr&) {
        return HttpResponse::raw(200, "OK", std::nullopt, [](HttpResponseBodyWriter& writer) {
            for (int i = 0; i <= 100; ++i) {
                writer.write(bytesOf("[chunk " + std::to_string(i) + "]"));
            }
        });
    };
    server["/self"] = [](const HttpRequestPtr&) {
        return HttpResponse::raw(200, "OK",
                                 HttpHeaders{{"Content-Type", "application/octet-stream"}},
                                 [](HttpResponseBodyWriter& writer) {
                                     File file = openForReading("/proc/self/exe");
                                     try {
                                         writer.write(file);
                                     } catch (...) {
                                         file.close();
                                         throw;
                                     }
                                     file.close();
                                 });
    };
    server["/redirect"] = [](const HttpRequestPtr&) {
        return HttpResponse::movedPermanently("/hello");
    };
    server["/temporary"] = [](const HttpRequestPtr&) {
        return HttpResponse::movedTemporarily("/hello");
    };
    server["/bad"] = [](const HttpRequestPtr&) {
        return HttpResponse::badRequest(HttpResponseBody::text("bad input"));
    };
    server["/params/:name"] = [](const HttpRequestPtr& request) {
        return text(request->params.at(":name"));
    };
    server["/query"] = [](const HttpRequestPtr& request) {
        return text(pairsText(request->queryParams));
    };
    server["/headers"] = [](const HttpRequestPtr& request) {
        std::string text;
        for (const auto& [name, value] : request->headers) {
            text += name + "=" + value + "\n";
        }
        return vuzozar::text(request->method + " " + request->path + "\n" + text);
    };
    server["/address"] = [](const HttpRequestPtr& request) {
        return text(request->address.value_or("none"));
    };
    server.GET["/ws"] = websocket(
        [](const std::shared_ptr<WebSocketSession>& session, const std::string& message) {
            session->writeText(message);
        },
        [](const std::shared_ptr<WebSocketSession>& session, const std::vector<uint8_t>& bytes) {
            session->writeBinary(bytes);
        },
        [](const std::shared_ptr<WebSocketSession>& session, const std::vector<uint8_t>& bytes) {
            session->writeText("pong:" + std::string(bytes.begin(), bytes.end()));
        },
        [](const std::shared_ptr<WebSocketSession>&) { printLine("connected"); },
        [](const std::shared_ptr<WebSocketSession>&) { printLine("disconnected"); });
    server.middleware.push_back([](const HttpRequestPtr& request) -> std::optional<HttpResponse> {
        if (request->path == "/blocked") {
            return HttpResponse::forbidden();
        }
        return std::nullopt;
    });
}

} // namespace

} // namespace vuzozar

int main() {
    using namespace vuzozar;
    sigset_t stopSignals = blockStopSignals();
    auto server = std::make_shared<HttpServer>();
    server->listenAddressIPv4 = "127.0.0.1";
    addRoutes(*server);
    serveUntilSignal(server, stopSignals);
    return 0;
}
