#include "http/files/FoundPath.h"

#include "http/File.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace vuzozar {

namespace {

// openat2, which the C library does not wrap; throws on failure. A path
// holding a zero byte (a decoded "%00") names nothing: the system would
// read it only up to that byte, another file than the one asked for.
Descriptor openUnder(int directory, const std::string& path, unsigned long long flags,
                     unsigned long long resolve) {
    if (path.find('\0') != std::string::npos) {
        throw FileError(ENOENT);
    }
    open_how how{};
    how.flags = flags | O_CLOEXEC;
    how.resolve = resolve;
    long descriptor;
    do {
        descriptor = syscall(SYS_openat2, directory, path.c_str(), &how, sizeof how);
    } while (descriptor == -1 && errno == EINTR);
    if (descriptor == -1) {
        throw FileError(errno);
    }
    return Descriptor(int(descriptor));
}

struct stat statusOf(const Descriptor& descriptor) {
    struct stat status {};
    if (fstat(descriptor.get(), &status) != 0) {
        throw FileError(errno);
    }
    return status;
}

} // namespace

FoundPath::FoundPath(Descriptor directory, std::string relative, unsigned long long resolve)
    : directory_(std::move(directory)), relative_(relative.empty() ? "." : std::move(relative)),
      resolve_(resolve) {
    found_ = openUnder(from(), relative_, O_PATH, resolve_);
    status_ = statusOf(found_);
}

FoundPath FoundPath::beneath(const std::string& directory, const std::string& relative) {
    // Magic links (/proc/self/root and the like) jump anywhere; refuse them
    // as well.
    return FoundPath(openUnder(AT_FDCWD, directory, O_PATH | O_DIRECTORY, 0), relative,
                     RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
}

FoundPath FoundPath::at(const std::string& path) {
    return FoundPath(Descriptor(), path, 0);
}

int FoundPath::from() const {
    return directory_ ? directory_.get() : AT_FDCWD;
}

Descriptor FoundPath::reopen(unsigned long long flags) const {
    Descriptor opened = openUnder(from(), relative_, flags, resolve_);
    struct stat status = statusOf(opened);
    if (status.st_dev != status_.st_dev || status.st_ino != status_.st_ino) {
        throw FileError(ESTALE);
    }
    return opened;
}

std::optional<OpenedFile> FoundPath::openFile() const {
    if (!isRegularFile()) {
        return std::nullopt;
    }
    try {
        // Non-blocking, in case a FIFO took the file's place after all: it
        // is then refused as another object instead of blocking the open.
        Descriptor opened = reopen(O_RDONLY | O_NOCTTY | O_NONBLOCK);
        FILE* stream = fdopen(opened.get(), "rb");
        if (!stream) {
            return std::nullopt;
        }
        opened.release();
        return OpenedFile(stream, int64_t(status_.st_size));
    } catch (const FileError&) {
        return std::nullopt;
    }
}

std::vector<std::string> FoundPath::names() const {
    return files(reopen(O_RDONLY | O_DIRECTORY).release());
}

} // namespace vuzozar
