#pragma once

#include <algorithm>
#include <chrono>

namespace zivra::audio {

// The wait of a back-off: the first wait doubled `doublings` times, at most the longest. Shared
// by the engine's retries and the tuner's, so that both grow alike. Any thread; a plain value;
// throws nothing.
constexpr std::chrono::milliseconds doubled(std::chrono::milliseconds first, int doublings,
                                            std::chrono::milliseconds longest) {
    std::chrono::milliseconds wait = first;
    for (int n = 0; n < doublings && wait < longest; ++n) {
        wait *= 2;
    }
    return std::min(wait, longest);
}

} // namespace zivra::audio
