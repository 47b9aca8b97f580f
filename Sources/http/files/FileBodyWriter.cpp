#include "http/files/FileBodyWriter.h"

#include <memory>

namespace vuzozar {

HttpBodyWriterFunction fileBodyWriter(OpenedFile file) {
    // Shared, because the server copies the writer function; the last copy
    // to go closes a file that was never sent.
    auto shared = std::make_shared<OpenedFile>(std::move(file));
    return [shared](HttpResponseBodyWriter& writer) {
        try {
            writer.write(shared->file());
        } catch (...) {
        }
        shared->close();
    };
}

HttpResponse fileResponse(OpenedFile file, HttpHeaders headers) {
    return HttpResponse::raw(200, "OK", std::move(headers), fileBodyWriter(std::move(file)));
}

} // namespace vuzozar
