#pragma once

#include "http/File.h"

#include <cstdint>

namespace vuzozar {

// An open regular file that closes itself: a handler opens it, and its
// response's body writer sends and closes it; when the writer never runs
// (the response head could not be written, the server stopped), the file
// is closed when the response is dropped.
//
// Any thread, one at a time per object; move-only; throws nothing.
class OpenedFile {
public:
    // Takes over `stream`, which must not be null.
    OpenedFile(FILE* stream, int64_t size) : file_(stream), size_(size) {}
    ~OpenedFile();
    OpenedFile(OpenedFile&& other) noexcept;
    OpenedFile& operator=(OpenedFile&&) = delete;
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    // The file; it stays owned here.
    const File& file() const { return file_; }
    // Its size in bytes when it was opened.
    int64_t size() const { return size_; }
    // Closes it now; a second call does nothing.
    void close();

private:
    File file_;
    int64_t size_;
};

} // namespace vuzozar
