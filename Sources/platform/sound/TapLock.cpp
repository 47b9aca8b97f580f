#include "platform/sound/TapLock.h"

#include "platform/sound/RuntimeFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace zivra::platform::sound {
namespace {

// The locks alive on this thread: only the outermost takes the file's lock,
// as a second open of the file would wait for the first.
thread_local int heldHere = 0;

} // namespace

TapLock::TapLock() {
    if (heldHere++ > 0) {
        return;
    }
    const std::filesystem::path folder = runtimeFolder();
    if (folder.empty()) {
        return;
    }
    file_ = ::open((folder / "zivra-tap.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                   0600);
    while (file_ >= 0 && ::flock(file_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

TapLock::~TapLock() {
    --heldHere;
    if (file_ >= 0) {
        ::close(file_);
    }
}

} // namespace zivra::platform::sound
