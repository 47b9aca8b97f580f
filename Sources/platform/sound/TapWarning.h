#pragma once

#include <cerrno> // program_invocation_short_name
#include <cstdio>
#include <string>

namespace zivra::platform::sound {

// Reports on standard error, after the program's name ("zivra", "zivra-tapguard"),
// something the tap's rules had to pass over. These rules run in Zivra and in its
// guard, which has no Qt and so no log category. Any thread but the real-time
// paths; throws nothing.
inline void warnAboutTap(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
}

} // namespace zivra::platform::sound
