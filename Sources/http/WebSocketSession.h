#pragma once

#include "http/CaseError.h"
#include "http/Socket.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace vuzozar {

// The server side of one WebSocket connection (RFC 6455): reads client
// frames and writes unmasked server frames. Writes may come from any
// thread; each frame goes out whole, never interleaved with another; reads
// belong to the connection's thread. Shared through std::shared_ptr by the
// server's handler and whoever it hands the session to; it shares the socket.
class WebSocketSession {
public:
    enum class OpCode : uint8_t {
        continue_ = 0x0, // `continue` is a keyword of the language
        close = 0x8,
        ping = 0x9,
        pong = 0xA,
        text = 0x1,
        binary = 0x2,
    };

    class Frame {
    public:
        OpCode opcode = OpCode::close;
        bool fin = false;
        uint8_t rsv1 = 0; // the reserved bits as masked from the first byte
        uint8_t rsv2 = 0;
        uint8_t rsv3 = 0;
        std::vector<uint8_t> payload; // unmasked
    };

    class WsError : public CaseError {
    public:
        enum class Kind { unknownOpCode, unMaskedFrame, protocolError, invalidUTF8 };
        WsError(Kind kind, std::string text);
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    // Thrown to end the session when the peer sends a close frame.
    class Control : public CaseError {
    public:
        enum class Kind { close };
        explicit Control(Kind kind) : CaseError("close", std::nullopt), kind_(kind) {}
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    // Peers decide payload lengths: a frame, or a fragmented message put
    // together, longer than this ends the session before anything is read
    // or set aside for it.
    static constexpr uint64_t maxPayloadLength = uint64_t(16) << 20;

    explicit WebSocketSession(std::shared_ptr<Socket> socket);
    // Sends a close frame (unless one was sent) and closes a still open
    // connection.
    virtual ~WebSocketSession();
    WebSocketSession(const WebSocketSession&) = delete;
    WebSocketSession& operator=(const WebSocketSession&) = delete;

    // Each writes one final frame; failures are printed, never thrown. Once
    // a close frame has gone out, nothing more is written: a browser fails
    // the connection on any frame after the close (RFC 6455, 5.5.1), and a
    // phone leaving would see an error instead of its own disconnect.
    void writeText(const std::string& text);
    void writeBinary(std::span<const uint8_t> bytes);
    void writeFrame(std::span<const uint8_t> data, OpCode op, bool fin = true);
    void writeCloseFrame();
    // Writes one final frame unless that would wait: while another writer
    // holds the session, when more than `maxUnsent` bytes would then wait in
    // the connection for the peer to take them (the frame's included), or
    // when the connection takes none of the frame now. A frame that the
    // connection takes only in part is begun: its rest goes out before any
    // other frame, with the next write of either kind, so frames never mix
    // on the wire. True when the frame was written or begun; false when
    // nothing of it was, also on a closed session or a failed write
    // (printed, never thrown), or after a close frame. Any thread.
    bool writeFrameWithoutWaiting(std::span<const uint8_t> data, OpCode op, size_t maxUnsent);

    // One client frame; throws WsError for frames a server must refuse, and
    // the socket's errors.
    Frame readFrame();

    bool operator==(const WebSocketSession& other) const { return *socket == *other.socket; }
    size_t hashValue() const { return socket->hashValue(); }

    const std::shared_ptr<Socket> socket;

private:
    static std::vector<uint8_t> encodeLengthAndMaskFlag(uint64_t length, bool masked);
    // A whole frame in one buffer: one system call, and a frame never waits
    // for the acknowledgement of its own header.
    static std::vector<uint8_t> frameOf(std::span<const uint8_t> data, OpCode op, bool fin);

    std::mutex writeLock_; // guards the fields below
    bool closeSent_ = false;
    // The rest of a frame that the connection took only in part.
    std::vector<uint8_t> unfinished_;
};

} // namespace vuzozar

template <> struct std::hash<vuzozar::WebSocketSession> {
    size_t operator()(const vuzozar::WebSocketSession& session) const {
        return session.hashValue();
    }
};
