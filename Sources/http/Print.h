#pragma once

#include <string_view>

namespace vuzozar {

// Writes one diagnostic line to standard output at once, so that lines of
// different connection threads never mix and a reader of a pipe sees each
// line as soon as it is printed. Any thread; borrows the text for the call;
// write failures are ignored, so it throws only std::bad_alloc.
void printLine(std::string_view line);

} // namespace vuzozar
