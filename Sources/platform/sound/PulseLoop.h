#pragma once

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace zivra::platform::sound {

// One connection to the sound server with its own event thread. Every libpulse
// call on the connection is made either on that thread (in callbacks) or with
// the loop locked (Lock). Connecting blocks until the server answers. Held by
// value by each stream object and shared by the sound server with its tap;
// context() and mainloop() are borrowed for the loop's lifetime. Only the
// constructor throws; the rest throws nothing but std::bad_alloc.
//
// Zivra's own connections wait for an answer at most answerTime: a server
// that takes longer (stopped, hung, or never answering a request about a
// stream it dropped) is taken as gone away, so that no click waits on it.
// The connection is then dropped, and until a connection of patience
// `untilAnswered` has been made again (a look whether the server answers, made
// off the main thread) no wait of any bounded connection of the process
// waits: each ends at once as unanswered, and no new one is tried.
class PulseLoop {
public:
    static constexpr std::chrono::milliseconds answerTime{1500};
    enum class Patience { answerTime, untilAnswered };

    // Names the event thread threadName and connects; throws SoundError with
    // the server's code and description when the server cannot be reached,
    // PA_ERR_TIMEOUT when it does not answer in time.
    explicit PulseLoop(const std::string& threadName, Patience patience = Patience::answerTime);
    ~PulseLoop();
    PulseLoop(const PulseLoop&) = delete;
    PulseLoop& operator=(const PulseLoop&) = delete;

    pa_context* context() const { return context_; }
    pa_threaded_mainloop* mainloop() const { return mainloop_; }

    // The kernel id of the event thread (for its scheduling). Any thread.
    pid_t threadId() const { return threadId_.load(); }

    // False once the server went away; the connection is then of no further use.
    bool isConnected() const;

    // The server's error code and description of the last failure.
    int lastError() const;
    std::string describe(int error) const;

    // Waits, with the loop locked, until op has finished; releases op.
    // Callbacks of operations wake the waiter with signal(). False when the
    // server did not answer in time: op is then cancelled (its callback is
    // never called) and the connection dropped.
    bool await(pa_operation* op);
    void signal();

    // One wait, with the loop locked, for a signal() or the end of the time
    // the server has to answer since `start`; the caller checks what it waits
    // for and waits again. False, at once, when that time is over (the
    // connection is then dropped) or when the server left a wait unanswered.
    using Clock = std::chrono::steady_clock;
    bool waitSince(Clock::time_point start);

    // Whether a wait on this connection went unanswered (it is then dropped).
    bool leftUnanswered() const { return unanswered_; }
    // Whether, since it last answered a new connection, the server left a
    // wait of this process unanswered. Any thread.
    static bool serverUnanswered();

    // Asks the server for sink, sink-input and server events (loop locked).
    // They are passed to every subscriber on the event thread. Change the
    // subscribers with the loop locked.
    void subscribeToDeviceEvents();
    using Subscriber = std::function<void(pa_subscription_event_type_t, std::uint32_t index)>;
    std::uint64_t addSubscriber(Subscriber subscriber);
    void removeSubscriber(std::uint64_t id);

    // Called once on the event thread, with the loop locked, when the
    // connection is lost after it was made; set or clear it with the loop
    // locked. It must only hand the news on.
    void setLostHandler(std::function<void()> handler);

    // Holds the loop's lock for the lifetime of the guard (main thread only).
    class Lock {
    public:
        explicit Lock(const PulseLoop& loop) : mainloop_(loop.mainloop_) {
            pa_threaded_mainloop_lock(mainloop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(mainloop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* mainloop_;
    };

private:
    static void onStateChanged(pa_context* context, void* self);
    static void onSubscription(pa_context* context, pa_subscription_event_type_t type,
                               std::uint32_t index, void* self);

    // Marks the server as not answering and drops the connection.
    bool giveUp();

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    Patience patience_;
    bool unanswered_ = false;
    std::atomic<pid_t> threadId_{0}; // set once by the event thread
    std::map<std::uint64_t, Subscriber> subscribers_;
    std::function<void()> lostHandler_;
    std::uint64_t nextSubscriber_ = 1;
};

} // namespace zivra::platform::sound
