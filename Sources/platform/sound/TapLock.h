#pragma once

namespace zivra::platform::sound {

// Makes the look for a tap, the removal of one left behind and the load of a
// new one a single step among the processes of one user: while one holds the
// lock, no other Zivra or guard of the session looks, removes or loads, so
// two Zivras started at once never both find no tap and both make one. An
// advisory lock on a file in the runtime folder, which the kernel lets go
// however its holder ends. A thread that holds it may take it again (the
// clean-up inside a start). Without a runtime folder, or a lock file that
// cannot be opened or is not a regular file (said once), nothing is held and
// the step goes ahead. Made and destroyed on one thread; throws nothing but
// std::bad_alloc.
class TapLock {
public:
    // Whether the constructor waits while another process holds the lock:
    // the tap guard, a process of its own, may; Zivra's main thread never
    // does, as a holder that is stopped would freeze the popover.
    enum class Wait { whileHeld, never };

    explicit TapLock(Wait wait = Wait::whileHeld);
    ~TapLock();
    TapLock(const TapLock&) = delete;
    TapLock& operator=(const TapLock&) = delete;

    // False only when another process holds the lock and Wait::never was
    // asked for: the step must not go ahead.
    bool taken() const { return taken_; }

private:
    int file_ = -1;
    bool taken_ = true;
};

} // namespace zivra::platform::sound
