#pragma once

#include "http/HttpRouter.h"

#include <string>

namespace vuzozar {

// A request handler that shows what the request's path parameter names
// under `directoryPath`: a directory as a page of links to its entries
// (sorted without regard to case, "." and ".." included), a regular file by
// sending it with no headers of its own. A path that leaves the directory
// ("..", a leading separator, a symbolic link to elsewhere, a magic link such
// as /proc/self/root), symbolic links that loop, a missing path, a name or
// path too long for the system, anything that is neither directory nor
// regular file, and a file that cannot be opened answer 404 "Not Found"; a
// path that cannot be looked up otherwise (through a regular file, a folder
// without search permission) and a directory that cannot be read answer 500
// "Internal Server Error".
//
// The factory touches no file and throws only std::bad_alloc. The handler
// keeps `directoryPath` unchanged and nothing between requests, runs on the
// connection's thread (several at once) and throws only std::bad_alloc.
HttpRequestHandler directoryBrowser(std::string directoryPath);

} // namespace vuzozar
