#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zivra::platform::sound {

// What Zivra tells the guard of its tap, one line per order: the index of the
// tap's module once it is loaded, or "-" once Zivra has removed it itself.
std::string holdOrder(std::uint32_t module);
inline constexpr std::string_view releaseOrder = "-\n";

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

private:
    void take(std::string_view line);

    std::string partial_;
    bool known_ = false; // a complete, understood order was the last thing read
    bool holding_ = false;
    std::uint32_t module_ = 0;
};

} // namespace zivra::platform::sound
