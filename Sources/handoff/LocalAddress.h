#pragma once

#include <QString>

#include <optional>

struct ifaddrs;

namespace zivra::handoff {

// The address a phone on the same network reaches this computer at: the
// dotted-quad IPv4 address of the first interface, in the system's order,
// whose name begins with "en", "wl" or "eth" (wired and wireless network
// cards; loopback, bridges and tunnels are passed over). Interface flags are
// not consulted. Nothing when no interface qualifies or the list cannot be
// read. Any thread; throws nothing.
std::optional<QString> localIPv4Address();

// The same choice over a given interface list (getifaddrs' form); entries
// without a name or an address are skipped. The list stays the caller's.
std::optional<QString> localIPv4Address(const ifaddrs* interfaces);

} // namespace zivra::handoff
