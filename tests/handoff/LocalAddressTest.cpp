#include "handoff/LocalAddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <deque>
#include <string>

namespace zivra::handoff {
namespace {

// An interface list in getifaddrs' form, built entry by entry.
class InterfaceList {
public:
    InterfaceList& add(const char* name, int family, const char* address = nullptr) {
        ifaddrs& entry = entries_.emplace_back();
        addresses_.emplace_back();
        if (address) {
            sockaddr_storage& storage = addresses_.back();
            storage.ss_family = sa_family_t(family);
            if (family == AF_INET) {
                inet_pton(AF_INET, address, &reinterpret_cast<sockaddr_in&>(storage).sin_addr);
            } else {
                inet_pton(AF_INET6, address, &reinterpret_cast<sockaddr_in6&>(storage).sin6_addr);
            }
            entry.ifa_addr = reinterpret_cast<sockaddr*>(&storage);
        }
        entry.ifa_name = const_cast<char*>(name);
        if (entries_.size() > 1) {
            entries_[entries_.size() - 2].ifa_next = &entry;
        }
        return *this;
    }

    const ifaddrs* head() const { return entries_.empty() ? nullptr : &entries_.front(); }

private:
    std::deque<ifaddrs> entries_;
    std::deque<sockaddr_storage> addresses_;
};

TEST(LocalAddressTest, TakesTheFirstIPv4AddressOfANetworkCard) {
    InterfaceList list;
    list.add("lo", AF_INET, "127.0.0.1")
        .add("docker0", AF_INET, "172.17.0.1")
        .add("eth0", AF_INET)
        .add(nullptr, AF_INET, "10.0.0.9")
        .add("wlan0", AF_INET6, "fe80::1")
        .add("wlp2s0", AF_INET, "192.168.1.23")
        .add("enp3s0", AF_INET, "10.1.2.3");
    EXPECT_EQ(localIPv4Address(list.head()), QStringLiteral("192.168.1.23"));

    InterfaceList wired;
    wired.add("eth1", AF_INET, "198.51.100.200");
    EXPECT_EQ(localIPv4Address(wired.head()), QStringLiteral("198.51.100.200"));
}

TEST(LocalAddressTest, FindsNothingWithoutANetworkCard) {
    InterfaceList list;
    list.add("lo", AF_INET, "127.0.0.1").add("virbr0", AF_INET, "192.168.122.1");
    EXPECT_EQ(localIPv4Address(list.head()), std::nullopt);
    EXPECT_EQ(localIPv4Address(nullptr), std::nullopt);
}

} // namespace
} // namespace zivra::handoff
