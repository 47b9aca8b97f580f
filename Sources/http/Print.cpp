#include "http/Print.h"

#include <cstdio>
#include <string>

namespace vuzozar {

void printLine(std::string_view line) {
    std::string text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

} // namespace vuzozar
