#include "platform/sound/ServerSocket.h"

#include "platform/sound/RuntimeFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zivra::platform::sound {
namespace {

// The socket's path; empty when the server is reached otherwise (TCP, say).
std::filesystem::path serverSocket() {
    if (const char* named = std::getenv("PULSE_SERVER")) {
        // The first of a list is the one tried first.
        std::string server;
        std::istringstream(named) >> server;
        if (server.starts_with("unix:")) {
            server.erase(0, 5);
        }
        return server.starts_with('/') ? std::filesystem::path(server) : std::filesystem::path();
    }
    const std::filesystem::path folder = runtimeFolder();
    return folder.empty() ? folder : folder / "pulse" / "native";
}

// /proc/net/unix marks a socket that accepts connections with this flag.
constexpr const char* acceptsConnections = "00010000";

} // namespace

bool serverListens() {
    const std::filesystem::path socket = serverSocket();
    if (socket.empty()) {
        return false;
    }
    std::ifstream sockets("/proc/net/unix");
    std::string line;
    while (std::getline(sockets, line)) {
        // Num RefCount Protocol Flags Type St Inode Path
        std::istringstream fields(line);
        std::string skipped, flags, path;
        fields >> skipped >> skipped >> skipped >> flags >> skipped >> skipped >> skipped >> path;
        if (flags == acceptsConnections && path == socket.native()) {
            return true;
        }
    }
    return false;
}

} // namespace zivra::platform::sound
