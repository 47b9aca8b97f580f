#pragma once

#include "http/HttpRouter.h"

#include <string>
#include <vector>

namespace vuzozar {

// Request handlers that send files from disk. Each handler keeps its
// arguments unchanged and nothing between requests, runs on the thread of
// the connection it serves (several at once), never throws and answers a
// failure with a bodiless 404 "Not Found" (or 500 "Internal Server Error"
// where the directory browser says so). A file is sent whole with the
// server's file writer, never read into memory, and closed afterwards.
//
// The factories touch no file and throw only std::bad_alloc.

// Sends the regular file at `path` (absolute, or from the working
// directory) to every request, whatever its method, path or parameters,
// with no headers of its own; 404 while there is no such regular file.
HttpRequestHandler shareFile(std::string path);

// Sends the regular file that the request's path parameter names under
// `directoryPath`, with "Content-Type" from the parameter's extension and
// "Content-Length". An empty parameter tries the `defaults` names in order
// first; the first one that opens is sent with no headers of its own. A
// parameter that leads out of the directory ("..", a leading separator, a
// symbolic link to elsewhere), a missing file and anything that is no
// regular file answer 404.
HttpRequestHandler shareFilesFromDirectory(std::string directoryPath,
                                           std::vector<std::string> defaults);

} // namespace vuzozar
