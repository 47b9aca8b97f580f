#include "http/WebSocketSession.h"

#include "http/Print.h"

namespace vuzozar {

namespace {

const char* caseName(WebSocketSession::WsError::Kind kind) {
    switch (kind) {
    case WebSocketSession::WsError::Kind::unknownOpCode:
        return "unknownOpCode";
    case WebSocketSession::WsError::Kind::unMaskedFrame:
        return "unMaskedFrame";
    case WebSocketSession::WsError::Kind::protocolError:
        return "protocolError";
    case WebSocketSession::WsError::Kind::invalidUTF8:
        return "invalidUTF8";
    }
    return "unknown";
}

bool isOpCode(uint8_t code) {
    return code <= 0x2 || (code >= 0x8 && code <= 0xA);
}

bool isControl(WebSocketSession::OpCode code) {
    return code == WebSocketSession::OpCode::close || code == WebSocketSession::OpCode::ping ||
           code == WebSocketSession::OpCode::pong;
}

} // namespace

WebSocketSession::WsError::WsError(Kind kind, std::string text)
    : CaseError(caseName(kind), std::move(text)), kind_(kind) {}

WebSocketSession::WebSocketSession(std::shared_ptr<Socket> socket) : socket(std::move(socket)) {}

WebSocketSession::~WebSocketSession() {
    if (!socket->isClosed()) {
        if (!closeSent_) {
            writeCloseFrame();
        }
        socket->close();
    }
}

void WebSocketSession::writeText(const std::string& text) {
    writeFrame({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, OpCode::text, true);
}

void WebSocketSession::writeBinary(std::span<const uint8_t> bytes) {
    writeFrame(bytes, OpCode::binary, true);
}

void WebSocketSession::writeCloseFrame() {
    writeFrame({}, OpCode::close, true);
}

std::vector<uint8_t> WebSocketSession::encodeLengthAndMaskFlag(uint64_t length, bool masked) {
    uint8_t maskFlag = masked ? 0x80 : 0;
    if (length <= 125) {
        return {uint8_t(maskFlag | length)};
    }
    std::vector<uint8_t> encoded;
    int bytes;
    if (length <= 0xFFFF) {
        encoded.push_back(maskFlag | 0x7E);
        bytes = 2;
    } else {
        encoded.push_back(maskFlag | 0x7F);
        bytes = 8;
    }
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        encoded.push_back(uint8_t(length >> shift));
    }
    return encoded;
}

std::vector<uint8_t> WebSocketSession::frameOf(std::span<const uint8_t> data, OpCode op, bool fin) {
    std::vector<uint8_t> frame{uint8_t((fin ? 0x80 : 0) | uint8_t(op))};
    auto length = encodeLengthAndMaskFlag(data.size(), false);
    frame.insert(frame.end(), length.begin(), length.end());
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

void WebSocketSession::writeFrame(std::span<const uint8_t> data, OpCode op, bool fin) {
    auto frame = frameOf(data, op, fin);
    std::lock_guard lock(writeLock_);
    if (closeSent_) {
        return;
    }
    if (op == OpCode::close) {
        closeSent_ = true;
    }
    try {
        socket->writeUInt8(unfinished_, frame);
    } catch (const SocketError& error) {
        printLine(error.what());
    }
    // Sent, or the connection is broken and what follows is lost anyway.
    unfinished_.clear();
}

bool WebSocketSession::writeFrameWithoutWaiting(std::span<const uint8_t> data, OpCode op,
                                                size_t maxUnsent) {
    std::unique_lock lock(writeLock_, std::try_to_lock);
    if (!lock || closeSent_ || socket->isClosed()) {
        return false;
    }
    try {
        auto frame = frameOf(data, op, true);
        if (socket->unsentBytes() + unfinished_.size() + frame.size() > maxUnsent) {
            return false;
        }
        size_t written = socket->writeWithoutWaiting(unfinished_, frame);
        if (written <= unfinished_.size()) {
            unfinished_.erase(unfinished_.begin(), unfinished_.begin() + ptrdiff_t(written));
            return false;
        }
        written -= unfinished_.size();
        unfinished_.assign(frame.begin() + ptrdiff_t(written), frame.end());
        if (op == OpCode::close) {
            closeSent_ = true;
        }
        return true;
    } catch (const SocketError& error) {
        printLine(error.what());
        return false;
    }
}

WebSocketSession::Frame WebSocketSession::readFrame() {
    Frame frame;
    uint8_t first = socket->read();
    frame.fin = first & 0x80;
    frame.rsv1 = first & 0x40;
    frame.rsv2 = first & 0x20;
    frame.rsv3 = first & 0x10;
    if (first & 0x70) {
        // "negociated" is kept on purpose: peers and readers of the output match the text.
        throw WsError(WsError::Kind::protocolError, "Reserved frame bit has not been negociated.");
    }
    uint8_t code = first & 0x0F;
    if (!isOpCode(code)) {
        throw WsError(WsError::Kind::unknownOpCode, std::to_string(code));
    }
    if (!frame.fin && isControl(OpCode(code))) {
        throw WsError(WsError::Kind::protocolError, "Control frames must not be fragmented.");
    }
    frame.opcode = OpCode(code);
    uint8_t second = socket->read();
    if (!(second & 0x80)) {
        throw WsError(WsError::Kind::unMaskedFrame,
                      "A client must mask all frames that it sends to the server.");
    }
    uint64_t length = second & 0x7F;
    if (length >= 126) {
        int bytes = length == 126 ? 2 : 8;
        length = 0;
        for (int i = 0; i < bytes; ++i) {
            length = (length << 8) | socket->read();
        }
    }
    if (isControl(frame.opcode) && length > 125) {
        throw WsError(WsError::Kind::protocolError, "Payload gretter than 125 octets.");
    }
    if (length > maxPayloadLength) {
        throw WsError(WsError::Kind::protocolError,
                      "Payload of " + std::to_string(length) + " bytes exceeds the limit of " +
                          std::to_string(maxPayloadLength) + " bytes.");
    }
    auto mask = socket->read(4);
    frame.payload = socket->read(int64_t(length));
    for (size_t i = 0; i < frame.payload.size(); ++i) {
        frame.payload[i] ^= mask[i % 4];
    }
    return frame;
}

} // namespace vuzozar
