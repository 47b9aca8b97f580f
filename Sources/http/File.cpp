#include "http/File.h"

#include "http/Strings.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>

namespace vuzozar {

FileError::FileError(int32_t error) : CaseError("error", std::to_string(error)), error_(error) {}

void File::close() {
    std::fclose(pointer_);
}

bool File::seek(long offset) {
    return std::fseek(pointer_, offset, SEEK_SET) == 0;
}

size_t File::read(std::vector<uint8_t>& bytes) {
    if (bytes.empty()) {
        return 0;
    }
    size_t count = std::fread(bytes.data(), 1, bytes.size(), pointer_);
    if (count < bytes.size() && !std::feof(pointer_)) {
        throw FileError(std::ferror(pointer_) ? errno : 0);
    }
    return count;
}

void File::write(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) {
        return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), pointer_) < bytes.size()) {
        throw FileError(errno);
    }
}

std::string File::currentWorkingDirectory() {
    std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
    if (!path) {
        throw FileError(errno);
    }
    return path.get();
}

File openFileForMode(const std::string& path, const std::string& mode) {
    FILE* stream = std::fopen(path.c_str(), mode.c_str());
    if (!stream) {
        throw FileError(errno);
    }
    return File(stream);
}

File openForReading(const std::string& path) {
    return openFileForMode(path, "rb");
}

File openNewForWriting(const std::string& path) {
    return openFileForMode(path, "wb");
}

File openForWritingAndReading(const std::string& path) {
    return openFileForMode(path, "r+b");
}

namespace {

// The path's status, or nothing when it does not exist.
std::optional<struct stat> statusOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        return status;
    }
    if (errno == ENOENT) {
        return std::nullopt;
    }
    throw FileError(errno);
}

} // namespace

bool exists(const std::string& path) {
    return statusOf(path).has_value();
}

bool directory(const std::string& path) {
    auto status = statusOf(path);
    return status && (status->st_mode & S_IFMT) == S_IFDIR;
}

namespace {

// The names of an opened directory stream, which it closes; a null stream
// throws the errno of its failed opening.
std::vector<std::string> namesIn(DIR* opened) {
    struct CloseDirectory {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, CloseDirectory> dir(opened);
    if (!dir) {
        throw FileError(errno);
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir.get())) {
        std::string name(entry->d_name);
        if (isValidUtf8(name)) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

} // namespace

std::vector<std::string> files(const std::string& path) {
    return namesIn(opendir(path.c_str()));
}

std::vector<std::string> files(int directoryDescriptor) {
    DIR* dir = fdopendir(directoryDescriptor);
    if (!dir) {
        int error = errno;
        ::close(directoryDescriptor);
        throw FileError(error);
    }
    return namesIn(dir);
}

} // namespace vuzozar
