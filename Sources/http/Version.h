#pragma once

#include <string>

namespace vuzozar {

// The module's version text ("Unspecified" in a build that names none), sent
// in every response's "Server" header and published as HttpServer::VERSION().
// Computed once on first use; any thread; throws nothing but std::bad_alloc
// on that first use. The string lives for the life of the process.
const std::string& version();

} // namespace vuzozar
