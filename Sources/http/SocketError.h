#pragma once

#include "http/CaseError.h"

#include <string>

namespace vuzozar {

// A failed socket call, one case per call; the message is the system's text.
// Thrown by Socket on the thread that called it.
class SocketError : public CaseError {
public:
    enum class Kind {
        socketCreationFailed,
        socketSettingReUseAddrFailed,
        bindFailed,
        listenFailed,
        writeFailed,
        getPeerNameFailed,
        getNameInfoFailed,
        acceptFailed,
        recvFailed,
        getSockNameFailed,
        convertingPeerNameFailed,
    };

    SocketError(Kind kind, std::string message);
    explicit SocketError(Kind kind);

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// The system's text for the calling thread's current error number. Any
// thread (errno is the thread's own); throws only std::bad_alloc.
class Errno {
public:
    static std::string description();
};

} // namespace vuzozar
