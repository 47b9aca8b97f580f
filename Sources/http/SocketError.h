#pragma once

#include "http/CaseError.h"

#include <string>

namespace vuzozar {

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

// The system's text for the calling thread's current error number.
class Errno {
public:
    static std::string description();
};

} // namespace vuzozar
