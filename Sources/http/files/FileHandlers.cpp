#include "http/files/FileHandlers.h"

#include "http/files/FileBodyWriter.h"
#include "http/files/FoundPath.h"
#include "http/files/MimeTypes.h"
#include "http/files/PathParameter.h"

namespace vuzozar {

namespace {

// The regular file that `find` looks up, opened; nothing on any failure.
template <class Find> std::optional<OpenedFile> openFound(Find find) {
    try {
        return find().openFile();
    } catch (const FileError&) {
        return std::nullopt;
    }
}

std::optional<OpenedFile> openBeneath(const std::string& directory, const std::string& relative) {
    return openFound([&] { return FoundPath::beneath(directory, relative); });
}

} // namespace

HttpRequestHandler shareFile(std::string path) {
    return [path = std::move(path)](const HttpRequestPtr&) {
        std::optional<OpenedFile> file = openFound([&] { return FoundPath::at(path); });
        return file ? fileResponse(std::move(*file)) : HttpResponse::notFound();
    };
}

HttpRequestHandler shareFilesFromDirectory(std::string directoryPath,
                                           std::vector<std::string> defaults) {
    return [directoryPath = std::move(directoryPath),
            defaults = std::move(defaults)](const HttpRequestPtr& request) {
        std::optional<std::string> value = pathParameter(*request);
        if (!value) {
            return HttpResponse::notFound();
        }
        if (value->empty()) {
            for (const std::string& name : defaults) {
                if (auto file = openBeneath(directoryPath, name)) {
                    return fileResponse(std::move(*file));
                }
            }
        }
        std::optional<OpenedFile> file = openBeneath(directoryPath, *value);
        if (!file) {
            return HttpResponse::notFound();
        }
        HttpHeaders headers{{"Content-Type", mimeType(*value)},
                            {"Content-Length", std::to_string(file->size())}};
        return fileResponse(std::move(*file), std::move(headers));
    };
}

} // namespace vuzozar
