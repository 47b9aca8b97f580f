#include "http/files/DirectoryBrowser.h"

#include "http/files/FileBodyWriter.h"
#include "http/files/FoundPath.h"
#include "http/files/ListingPage.h"
#include "http/files/PathParameter.h"

#include <cerrno>

namespace vuzozar {

namespace {

HttpResponse browse(const std::string& directoryPath, const HttpRequest& request,
                    const std::string& value) {
    std::optional<FoundPath> found;
    try {
        found.emplace(FoundPath::beneath(directoryPath, value));
    } catch (const FileError& error) {
        // ELOOP: a magic link such as /proc/self/root refused, or links that loop.
        // ENAMETOOLONG: a name or a path longer than any the system keeps
        // names nothing there either.
        const bool missingOrRefused = error.error() == ENOENT || error.error() == EXDEV ||
                                      error.error() == ELOOP || error.error() == ENAMETOOLONG;
        return missingOrRefused ? HttpResponse::notFound() : HttpResponse::internalServerError();
    }
    if (found->isDirectory()) {
        std::vector<std::string> names;
        try {
            names = found->names();
        } catch (const FileError&) {
            return HttpResponse::internalServerError();
        }
        sortForListing(names);
        return listingPage(request.path, names);
    }
    std::optional<OpenedFile> file = found->openFile();
    if (!file) {
        return HttpResponse::notFound();
    }
    return fileResponse(std::move(*file));
}

} // namespace

HttpRequestHandler directoryBrowser(std::string directoryPath) {
    return [directoryPath = std::move(directoryPath)](const HttpRequestPtr& request) {
        std::optional<std::string> value = pathParameter(*request);
        return value ? browse(directoryPath, *request, *value) : HttpResponse::notFound();
    };
}

} // namespace vuzozar
