#include "http/WebSocket.h"

#include "http/Base64.h"
#include "http/Print.h"
#include "http/Sha1.h"
#include "http/Strings.h"

#include <optional>
#include <utility>

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

    // Whatever ends the session, the connected callback included, ends it
    // the same way: a close frame, then disconnected once. An application
    // that records its sessions at connected forgets them at disconnected.
    void run() {
        // A peer that breaks the protocol learns why the session ends.
        std::optional<uint16_t> status;
        try {
            if (callbacks_.connected) {
                callbacks_.connected(session_);
            }
            while (true) {
                handle(session_->readFrame());
            }
        } catch (const WebSocketSession::Control&) {
        } catch (const WsError& error) {
            printLine(prefixOf(error.kind()) + error.description());
            status = error.kind() == WsError::Kind::invalidUTF8 ? invalidDataStatus
                                                                : protocolErrorStatus;
        } catch (const std::exception& error) {
            // "Unkown" is kept on purpose: readers of the output match this line as it stands.
            printLine(std::string("Unkown error ") + error.what());
        } catch (...) {
            printLine("Unkown error (not a std::exception)");
        }
        if (status) {
            const uint8_t payload[] = {uint8_t(*status >> 8), uint8_t(*status)};
            session_->writeFrame(payload, OpCode::close, true);
        } else {
            session_->writeCloseFrame();
        }
        if (callbacks_.disconnected) {
            callbacks_.disconnected(session_);
        }
    }

private:
    // Close status codes of RFC 6455, section 7.4.1.
    static constexpr uint16_t protocolErrorStatus = 1002;
    static constexpr uint16_t invalidDataStatus = 1007;

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
            if (continuedOpCode_ == OpCode::close) {
                // A continuation without a message in progress ends the
                // session at once, as a close frame would.
                session_->socket->close();
                throw WebSocketSession::Control(WebSocketSession::Control::Kind::close);
            }
            accumulate(frame.payload);
            if (frame.fin) {
                deliver(std::exchange(continuedOpCode_, OpCode::close),
                        std::exchange(accumulated_, {}));
            }
            break;
        case OpCode::close:
            throw WebSocketSession::Control(WebSocketSession::Control::Kind::close);
        case OpCode::ping:
            session_->writeFrame(frame.payload, OpCode::pong, true);
            break;
        case OpCode::pong:
            if (callbacks_.pong) {
                callbacks_.pong(session_, frame.payload);
            }
            break;
        case OpCode::text:
        case OpCode::binary:
            // Only continuations may follow the first frame of a message
            // until its last; merging another message into it would
            // deliver neither as sent.
            if (continuedOpCode_ != OpCode::close) {
                throw WsError(WsError::Kind::protocolError,
                              "Continuing fragmented frame cannot have an operation code.");
            }
            if (frame.fin) {
                deliver(frame.opcode, std::move(frame.payload));
            } else {
                accumulate(frame.payload);
                continuedOpCode_ = frame.opcode;
            }
            break;
        }
    }

    void accumulate(const std::vector<uint8_t>& payload) {
        if (accumulated_.size() + payload.size() > WebSocketSession::maxPayloadLength) {
            throw WsError(WsError::Kind::protocolError,
                          "Message exceeds the limit of " +
                              std::to_string(WebSocketSession::maxPayloadLength) + " bytes.");
        }
        accumulated_.insert(accumulated_.end(), payload.begin(), payload.end());
    }

    // Hands a whole message to its callback, if there is one.
    void deliver(OpCode opcode, std::vector<uint8_t> payload) {
        if (opcode == OpCode::binary) {
            if (callbacks_.binary) {
                callbacks_.binary(session_, payload);
            }
            return;
        }
        if (!callbacks_.text) {
            return;
        }
        std::string text(payload.begin(), payload.end());
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
