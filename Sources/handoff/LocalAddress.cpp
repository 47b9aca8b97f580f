#include "handoff/LocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <array>
#include <string_view>

namespace zivra::handoff {

namespace {

bool isNetworkCard(std::string_view name) {
    for (std::string_view prefix : {"en", "wl", "eth"}) {
        if (name.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<QString> localIPv4Address() {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return std::nullopt;
    }
    auto address = localIPv4Address(interfaces);
    freeifaddrs(interfaces);
    return address;
}

std::optional<QString> localIPv4Address(const ifaddrs* interfaces) {
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || !entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET ||
            !isNetworkCard(entry->ifa_name)) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        std::array<char, INET_ADDRSTRLEN> text{};
        if (!inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size())) {
            return std::nullopt;
        }
        return QString::fromLatin1(text.data());
    }
    return std::nullopt;
}

} // namespace zivra::handoff
