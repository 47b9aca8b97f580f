#include "platform/sound/TapGuardOrders.h"

#include <charconv>

namespace zivra::platform::sound {
namespace {

constexpr std::string_view routeWord = "route ";
constexpr std::string_view forgetWord = "forget ";

// Reads an index that ends the text or is followed by a space; what follows
// the space is left in `text`.
std::optional<std::uint32_t> leadingIndex(std::string_view& text) {
    std::uint32_t index = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), index);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (!text.empty() && text.front() != ' ') {
        return std::nullopt;
    }
    return index;
}

} // namespace

std::string holdOrder(std::uint32_t module) {
    return std::to_string(module) + '\n';
}

std::string routeOrder(std::uint32_t input, const std::string& sink) {
    if (sink.empty() || sink.find('\n') != std::string::npos) {
        return {};
    }
    return std::string(routeWord) + std::to_string(input) + ' ' + sink + '\n';
}

std::string forgetOrder(std::uint32_t input) {
    return std::string(forgetWord) + std::to_string(input) + '\n';
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
        routes_.clear();
        return;
    }
    if (line.starts_with(routeWord) || line.starts_with(forgetWord)) {
        known_ = takeRoute(line);
        return;
    }
    std::uint32_t module = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), module);
    known_ = error == std::errc() && end == line.data() + line.size() && !line.empty();
    holding_ = known_;
    module_ = known_ ? module : 0;
}

bool TapGuardOrders::takeRoute(std::string_view line) {
    const bool route = line.starts_with(routeWord);
    line.remove_prefix(route ? routeWord.size() : forgetWord.size());
    const auto input = leadingIndex(line);
    if (!input) {
        return false;
    }
    if (!route) {
        routes_.erase(*input);
        return line.empty();
    }
    if (line.size() < 2) {
        return false;
    }
    routes_[*input] = std::string(line.substr(1));
    return true;
}

TapGuardOrders::Undo TapGuardOrders::undo() const {
    if (!known_ || !partial_.empty()) {
        return Undo::everyTap;
    }
    return holding_ ? Undo::module : Undo::nothing;
}

} // namespace zivra::platform::sound
