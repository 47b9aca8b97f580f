#include "platform/sound/TapGuardOrders.h"

#include <charconv>

namespace zivra::platform::sound {

std::string holdOrder(std::uint32_t module) {
    return std::to_string(module) + '\n';
}

void TapGuardOrders::read(std::string_view bytes) {
    for (const char byte : bytes) {
        if (byte != '\n') {
            partial_ += byte;
            continue;
        }
        take(partial_);
        partial_.clear();
    }
}

void TapGuardOrders::take(std::string_view line) {
    if (line == releaseOrder.substr(0, 1)) {
        known_ = true;
        holding_ = false;
        return;
    }
    std::uint32_t module = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), module);
    known_ = error == std::errc() && end == line.data() + line.size() && !line.empty();
    holding_ = known_;
    module_ = known_ ? module : 0;
}

TapGuardOrders::Undo TapGuardOrders::undo() const {
    if (!known_ || !partial_.empty()) {
        return Undo::everyTap;
    }
    return holding_ ? Undo::module : Undo::nothing;
}

} // namespace zivra::platform::sound
