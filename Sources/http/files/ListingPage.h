#pragma once

#include "http/HttpResponse.h"

#include <string>
#include <vector>

namespace vuzozar {

// `names` sorted without regard to case (Unicode lowercasing, then scalar
// order); names equal but for case keep their order.
//
// Any thread; sorts in place; throws only std::bad_alloc.
void sortForListing(std::vector<std::string>& names);

// The listing of a directory as an HTML page: one table row per name, in the
// given order, each a link to `requestPath` followed by "/" and the name.
// The name is percent-encoded in the link and HTML-escaped in the text, and
// the path escaped, so that every name shows as it is and links to itself.
// Answers 200 "OK" with "Content-Type: text/html"; the page is built with
// the HTML builder and sent by its page writer.
//
// The connection's thread (the page waits in that thread's builder buffer
// until the server writes the body); throws only std::bad_alloc.
HttpResponse listingPage(const std::string& requestPath, const std::vector<std::string>& names);

} // namespace vuzozar
