#include "http/files/OpenedFile.h"

namespace vuzozar {

OpenedFile::~OpenedFile() {
    close();
}

OpenedFile::OpenedFile(OpenedFile&& other) noexcept : file_(other.file_), size_(other.size_) {
    other.file_ = File(nullptr);
}

void OpenedFile::close() {
    if (file_.pointer()) {
        file_.close();
        file_ = File(nullptr);
    }
}

} // namespace vuzozar
