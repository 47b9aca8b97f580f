// How the tap guard reads Zivra's orders: what it removes depends on the last
// complete order, and an end in the middle of one removes every tap. And how it
// keeps the routes in the runtime folder.
#include "platform/sound/TapGuardOrders.h"

#include "platform/sound/TapRoutesFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace zivra::platform::sound {
namespace {

using Undo = TapGuardOrders::Undo;

TapGuardOrders ordersOf(std::initializer_list<std::string_view> pieces) {
    TapGuardOrders orders;
    for (const std::string_view piece : pieces) {
        orders.read(piece);
    }
    return orders;
}

TEST(TapGuardOrdersTest, TheLastCompleteOrderDecides) {
    EXPECT_EQ(ordersOf({}).undo(), Undo::everyTap) << "ended before any order";
    const auto held = ordersOf({holdOrder(536870913)});
    EXPECT_EQ(held.undo(), Undo::module);
    EXPECT_EQ(held.module(), 536870913u);
    EXPECT_EQ(ordersOf({holdOrder(7), releaseOrder}).undo(), Undo::nothing);
    const auto again = ordersOf({holdOrder(7), releaseOrder, holdOrder(0)});
    EXPECT_EQ(again.undo(), Undo::module);
    EXPECT_EQ(again.module(), 0u);
}

TEST(TapGuardOrdersTest, OrdersSplitAnywhereReadTheSame) {
    const auto split = ordersOf({"1", "2", "3\n-", "\n4", "2\n"});
    EXPECT_EQ(split.undo(), Undo::module);
    EXPECT_EQ(split.module(), 42u);
}

TEST(TapGuardOrdersTest, AnEndInTheMiddleOfAnOrderOrAnUnknownOrderRemovesEveryTap) {
    EXPECT_EQ(ordersOf({releaseOrder, "12"}).undo(), Undo::everyTap);
    EXPECT_EQ(ordersOf({holdOrder(5), "-"}).undo(), Undo::everyTap);
    EXPECT_EQ(ordersOf({holdOrder(5), "x\n"}).undo(), Undo::everyTap);
    EXPECT_EQ(ordersOf({"\n"}).undo(), Undo::everyTap);
    EXPECT_EQ(ordersOf({"-5\n"}).undo(), Undo::everyTap);
    EXPECT_EQ(ordersOf({"4294967296\n"}).undo(), Undo::everyTap) << "beyond 32 bits";
}

TEST(TapGuardOrdersTest, RoutesOfStreamsThatEndedAreForgotten) {
    const auto orders = ordersOf({holdOrder(5), routeOrder(70, "head phones"), routeOrder(71, "x"),
                                  forgetOrder(71), "route 72 speakers\n", "route 73\n"});
    EXPECT_EQ(orders.undo(), Undo::everyTap) << "a route order without a sink is not understood";
    EXPECT_EQ(orders.routes(), (pulse::StreamRoutes{{70, "head phones"}, {72, "speakers"}}));
    EXPECT_EQ(ordersOf({holdOrder(5), routeOrder(70, "a"), forgetOrder(70)}).undo(), Undo::module);
    EXPECT_TRUE(ordersOf({routeOrder(70, "a"), releaseOrder}).routes().empty());
    EXPECT_TRUE(routeOrder(70, "two\nlines").empty());
}

std::string contentOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(TapRoutesFileTest, LinksWhereTheRoutesAreWrittenAreNotFollowed) {
    std::string folder = std::filesystem::temp_directory_path() / "zivra-routes-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1), 0);
    const std::filesystem::path other = std::filesystem::path(folder) / "other";
    std::ofstream(other) << "left alone\n";
    const auto tap = pulse::TapIdentity::next();
    const std::filesystem::path routesFile =
        std::filesystem::path(folder) /
        ("zivra-tap-routes-" + std::to_string(tap.owner.processId) + '-' +
         std::to_string(tap.owner.startTime) + '-' + std::to_string(tap.serial));
    std::filesystem::create_symlink(other, routesFile);
    std::filesystem::create_symlink(other, std::filesystem::path(folder) / "zivra-tap-routes.new");

    const pulse::StreamRoutes routes{{70, "head phones"}, {72, "speakers"}};
    keepRoutes(tap, routes);
    EXPECT_EQ(contentOf(other), "left alone\n");
    EXPECT_EQ(keptRoutes(tap), routes);
    const auto status = std::filesystem::symlink_status(routesFile);
    EXPECT_EQ(status.type(), std::filesystem::file_type::regular);
    EXPECT_EQ(status.permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // A later tap of the same Zivra that held nothing (never made while the
    // server did not answer) leaves the earlier tap's routes to its guard.
    const auto later = pulse::TapIdentity::next();
    keepRoutes(later, {});
    forgetRoutes(later);
    EXPECT_EQ(keptRoutes(tap), routes);

    // The routes of an owner that has ended go at the next clean-up, a running one's stay.
    const pulse::TapIdentity ended{{tap.owner.processId, tap.owner.startTime + 1}, tap.serial};
    keepRoutes(ended, routes);
    forgetEndedRoutes();
    EXPECT_TRUE(keptRoutes(ended).empty());
    EXPECT_EQ(keptRoutes(tap), routes);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace zivra::platform::sound
