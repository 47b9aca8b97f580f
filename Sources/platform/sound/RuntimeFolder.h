#pragma once

#include <cstdlib>
#include <filesystem>

namespace zivra::platform::sound {

// The session's runtime folder (XDG_RUNTIME_DIR), the user's own, where the
// tap keeps its lock and the routes of its streams; empty when the session
// has none. Any thread; throws nothing but std::bad_alloc.
inline std::filesystem::path runtimeFolder() {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    return folder && *folder ? std::filesystem::path(folder) : std::filesystem::path();
}

} // namespace zivra::platform::sound
