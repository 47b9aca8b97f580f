#include "http/WebSocket.h"

#include "http/Base64.h"
#include "http/Print.h"
#include "http/Sha1.h"
#include "http/Strings.h"

#include <algorithm>

namespace vuzozar {

namespace {

using OpCode = WebSocketSession::OpCode;
using WsError = WebSocketSession::WsError;

struct Callbacks {
    WebSocketTextCallback text;
    WebSocketBytesCallback binary;
    WebSocketBytesCallback pong;
    WebSocketSessionCallback connected;
    WebSocketSessionCallback disconnected;
};

// Reads the frames of one session and delivers its messages.
class SessionLoop {
public:
    SessionLoop(std::shared_ptr<WebSocketSession> session, const Callbacks& callbacks)
        : session_(std::move(session)), callbacks_(callbacks) {}

    void run() {
        if (callbacks_.connected) {
            callbacks_.connected(session_);
        }
        try {
            while (true) {
                handle(session_->readFrame());
            }
        } catch (const WebSocketSession::Control&) {
        } catch (const WsError& error) {
            printLine(prefixOf(error.kind()) + error.description());
        } catch (const std::exception& error) {
            printLine(std::string("Unkown error ") + error.what());
        }
        session_->writeCloseFrame();
        if (callbacks_.disconnected) {
            callbacks_.disconnected(session_);
        }
    }

private:
    static std::string prefixOf(WsError::Kind kind) {
        switch (kind) {
        case WsError::Kind::unknownOpCode:
            return "Unknown Op Code: ";
        case WsError::Kind::unMaskedFrame:
            return "Unmasked frame: ";
        case WsError::Kind::protocolError:
            return "Protocol error: ";
        case WsError::Kind::invalidUTF8:
            return "Invalid UTF8 character: ";
        }
        return "";
    }

    void handle(WebSocketSession::Frame frame) {
        switch (frame.opcode) {
        case OpCode::continue_:
            // A continuation without a message in progress is handled as a
            // close frame, which ends the session.
            if (continuedOpCode_ == OpCode::close) {
                session_->socket->close();
            }
            frame.opcode = continuedOpCode_;
            if (frame.fin) {
                accumulate(frame.payload);
                frame.payload = std::move(accumulated_);
                accumulated_.clear();
                continuedOpCode_ = OpCode::close;
            }
            handle(std::move(frame));
            break;
        case OpCode::close:
            throw WebSocketSession::Control(WebSocketSession::Control::Kind::close);
        case OpCode::ping:
            if (frame.payload.size() > 125) {
                throw WsError(WsError::Kind::protocolError, "Payload gretter than 125 octets.");
            }
            session_->writeFrame(frame.payload, OpCode::pong, true);
            break;
        case OpCode::pong:
            if (callbacks_.pong) {
                callbacks_.pong(session_, frame.payload);
            }
            break;
        case OpCode::text:
            if (callbacks_.text && messageComplete(frame)) {
                deliverText(frame.payload);
            }
            break;
        case OpCode::binary:
            if (callbacks_.binary && messageComplete(frame)) {
                callbacks_.binary(session_, frame.payload);
            }
            break;
        }
    }

    // Keeps the frame of an unfinished message and says false; true for a
    // whole message.
    bool messageComplete(const WebSocketSession::Frame& frame) {
        if (!frame.fin) {
            accumulate(frame.payload);
            continuedOpCode_ = frame.opcode;
            return false;
        }
        if (!accumulated_.empty()) {
            throw WsError(WsError::Kind::protocolError,
                          "Continuing fragmented frame cannot have an operation code.");
        }
        return true;
    }

    void accumulate(const std::vector<uint8_t>& payload) {
        if (accumulated_.size() + payload.size() > WebSocketSession::maxPayloadLength) {
            throw WsError(WsError::Kind::protocolError,
                          "Message exceeds the limit of " +
                              std::to_string(WebSocketSession::maxPayloadLength) + " bytes.");
        }
        accumulated_.insert(accumulated_.end(), payload.begin(), payload.end());
    }

    void deliverText(const std::vector<uint8_t>& payload) {
        auto end = std::find(payload.begin(), payload.end(), 0);
        std::string text(payload.begin(), end);
        if (!isValidUtf8(text)) {
            throw WsError(WsError::Kind::invalidUTF8, "");
        }
        callbacks_.text(session_, text);
    }

    std::shared_ptr<WebSocketSession> session_;
    const Callbacks& callbacks_;
    OpCode continuedOpCode_ = OpCode::close; // close: no message in progress
    std::vector<uint8_t> accumulated_;
};

std::string headerOrUnknown(const HttpRequest& request, const std::string& name) {
    auto header = request.headers.find(name);
    return header == request.headers.end() ? "unknown" : header->second;
}

HttpResponse badRequest(std::string text) {
    return HttpResponse::badRequest(HttpResponseBody::text(std::move(text)));
}

} // namespace

HttpRequestHandler websocket(WebSocketTextCallback text, WebSocketBytesCallback binary,
                             WebSocketBytesCallback pong, WebSocketSessionCallback connected,
                             WebSocketSessionCallback disconnected) {
    auto callbacks = std::make_shared<const Callbacks>(
        Callbacks{std::move(text), std::move(binary), std::move(pong), std::move(connected),
                  std::move(disconnected)});
    return [callbacks](const HttpRequestPtr& request) {
        if (!request->hasTokenForHeader("upgrade", "websocket")) {
            return badRequest("Invalid value of 'Upgrade' header: " +
                              headerOrUnknown(*request, "upgrade"));
        }
        if (!request->hasTokenForHeader("connection", "upgrade")) {
            return badRequest("Invalid value of 'Connection' header: " +
                              headerOrUnknown(*request, "connection"));
        }
        auto key = request->headers.find("sec-websocket-key");
        if (key == request->headers.end()) {
            return badRequest("Invalid value of 'Sec-Websocket-Key' header: unknown");
        }
        auto digest = sha1Digest(key->second + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11");
        HttpHeaders headers{{"Upgrade", "WebSocket"},
                            {"Connection", "Upgrade"},
                            {"Sec-WebSocket-Accept", toBase64(digest)}};
        return HttpResponse::switchProtocols(
            std::move(headers), [callbacks](std::shared_ptr<Socket> socket) {
                SessionLoop(std::make_shared<WebSocketSession>(std::move(socket)), *callbacks)
                    .run();
            });
    };
}

} // namespace vuzozar
