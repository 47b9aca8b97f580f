#pragma once

#include "platform/sound/StreamRoutes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zivra::platform::sound {

// What Zivra tells the guard of its tap, one line per order: the index of the
// tap's module once it is loaded, or "-" once Zivra has removed it itself;
// and for each stream it moves onto the tap the sink it came from
// ("route INPUT SINK"), until the stream ends ("forget INPUT").
std::string holdOrder(std::uint32_t module);
inline constexpr std::string_view releaseOrder = "-\n";
// Empty when the sink's name cannot be carried on one line.
std::string routeOrder(std::uint32_t input, const std::string& sink);
std::string forgetOrder(std::uint32_t input);

// The guard's reading of the orders, fed with the bytes as they arrive, split
// anywhere. When Zivra's end is seen, undo() says what is left to remove.
// Not thread-safe; throws nothing but std::bad_alloc.
class TapGuardOrders {
public:
    enum class Undo {
        nothing,  // the last order was a release
        module,   // the last order held module()
        everyTap, // Zivra ended before or while giving an order: a tap may be
                  // loaded that the guard was never told of
    };

    void read(std::string_view bytes);
    Undo undo() const;
    std::uint32_t module() const { return module_; }
    // The routes of the streams that had not ended, to give back before the
    // tap is removed.
    const pulse::StreamRoutes& routes() const { return routes_; }

private:
    void take(std::string_view line);
    bool takeRoute(std::string_view line);

    std::string partial_;
    bool known_ = false; // a complete, understood order was the last thing read
    bool holding_ = false;
    std::uint32_t module_ = 0;
    pulse::StreamRoutes routes_;
};

} // namespace zivra::platform::sound
