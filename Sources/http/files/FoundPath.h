#pragma once

#include "http/files/Descriptor.h"
#include "http/files/OpenedFile.h"

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

namespace vuzozar {

// A path looked up once without opening what it names (so a FIFO cannot
// block and a device is not touched): what it is, and a way to open that
// very object as a file or a directory.
//
// Any thread, one at a time per object; move-only. The failures of the
// lookups and of names() throw FileError with the errno value.
class FoundPath {
public:
    // `relative` under the directory `directory`, symbolic links followed.
    // A path holding a zero byte fails with ENOENT.
    // A path that leaves the directory fails with EXDEV: ".." above it, an
    // absolute path, and a symbolic link whose target is absolute or leads
    // above it. An empty `relative` names the directory itself.
    static FoundPath beneath(const std::string& directory, const std::string& relative);
    // `path` as it stands (absolute, or from the working directory),
    // symbolic links followed.
    static FoundPath at(const std::string& path);

    bool isRegularFile() const { return S_ISREG(status_.st_mode); }
    bool isDirectory() const { return S_ISDIR(status_.st_mode); }

    // The regular file, opened for reading, with its size when found;
    // nothing when it is no regular file, cannot be opened or the path no
    // longer names the object that was found.
    std::optional<OpenedFile> openFile() const;

    // The entry names of the directory in the order the system yields them,
    // "." and ".." included; names that are no valid UTF-8 are skipped.
    // Throws FileError when it cannot be read or is no longer the object
    // found (ESTALE).
    std::vector<std::string> names() const;

private:
    FoundPath(Descriptor directory, std::string relative, unsigned long long resolve);
    // Where relative_ is looked up from.
    int from() const;
    // The path opened again with `flags`, checked to be the object found
    // (ESTALE when another one took its place).
    Descriptor reopen(unsigned long long flags) const;

    Descriptor directory_; // none: relative_ is taken from the working directory
    std::string relative_;
    unsigned long long resolve_;
    Descriptor found_;
    struct stat status_ {};
};

} // namespace vuzozar
