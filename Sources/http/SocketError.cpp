#include "http/SocketError.h"

#include <cerrno>
#include <cstring>

namespace vuzozar {

namespace {

const char* caseName(SocketError::Kind kind) {
    switch (kind) {
    case SocketError::Kind::socketCreationFailed:
        return "socketCreationFailed";
    case SocketError::Kind::socketSettingReUseAddrFailed:
        return "socketSettingReUseAddrFailed";
    case SocketError::Kind::bindFailed:
        return "bindFailed";
    case SocketError::Kind::listenFailed:
        return "listenFailed";
    case SocketError::Kind::writeFailed:
        return "writeFailed";
    case SocketError::Kind::getPeerNameFailed:
        return "getPeerNameFailed";
    case SocketError::Kind::getNameInfoFailed:
        return "getNameInfoFailed";
    case SocketError::Kind::acceptFailed:
        return "acceptFailed";
    case SocketError::Kind::recvFailed:
        return "recvFailed";
    case SocketError::Kind::getSockNameFailed:
        return "getSockNameFailed";
    case SocketError::Kind::convertingPeerNameFailed:
        return "convertingPeerNameFailed";
    }
    return "unknown";
}

} // namespace

SocketError::SocketError(Kind kind, std::string message)
    : CaseError(caseName(kind), std::move(message)), kind_(kind) {}

SocketError::SocketError(Kind kind) : CaseError(caseName(kind), std::nullopt), kind_(kind) {}

std::string Errno::description() {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in buffer.
    return strerror_r(errno, buffer, sizeof buffer);
}

} // namespace vuzozar
