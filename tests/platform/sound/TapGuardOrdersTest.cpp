// How the tap guard reads Zivra's orders: what it removes depends on the last
// complete order, and an end in the middle of one removes every tap.
#include "platform/sound/TapGuardOrders.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace zivra::platform::sound
