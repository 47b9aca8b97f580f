#include "platform/sound/TapLock.h"

#include "platform/sound/RuntimeFolder.h"
#include "platform/sound/TapWarning.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace zivra::platform::sound {
namespace {

// The locks alive on this thread: only the outermost takes the file's lock,
// as a second open of the file would wait for the first.
thread_local int heldHere = 0;

// Opens the lock file only when it is a regular file: a FIFO, a link or a
// directory put in its place must not hang the start nor lead elsewhere. Said
// once per process; taps are then made without the lock. -1 when it is not.
int openLockFile(const std::filesystem::path& path) {
    static std::atomic_flag warned;
    const int file =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const int openError = errno;
    struct stat status = {};
    if (file >= 0 && ::fstat(file, &status) == 0 && S_ISREG(status.st_mode)) {
        return file;
    }
    if (file >= 0) {
        ::close(file);
    }
    if (!warned.test_and_set()) {
        const std::string why = file >= 0 || openError == ELOOP || openError == EISDIR
                                    ? "it is not a regular file"
                                    : std::strerror(openError);
        warnAboutTap("The tap lock " + path.string() + " is not used, " + why +
                     ": two Zivras started at once may both make a tap");
    }
    return -1;
}

} // namespace

TapLock::TapLock(Wait wait) {
    if (heldHere > 0) {
        ++heldHere;
        return;
    }
    const std::filesystem::path folder = runtimeFolder();
    if (!folder.empty()) {
        file_ = openLockFile(folder / "zivra-tap.lock");
    }
    const int operation = wait == Wait::never ? LOCK_EX | LOCK_NB : LOCK_EX;
    int status = 0;
    while (file_ >= 0 && (status = ::flock(file_, operation)) != 0 && errno == EINTR) {
    }
    if (file_ >= 0 && status != 0 && errno == EWOULDBLOCK) {
        ::close(file_);
        file_ = -1;
        taken_ = false;
        return;
    }
    ++heldHere;
}

TapLock::~TapLock() {
    if (taken_) {
        --heldHere;
    }
    if (file_ >= 0) {
        ::close(file_);
    }
}

} // namespace zivra::platform::sound
