#pragma once

#include <pulse/context.h>
#include <pulse/introspect.h>
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
// the loop locked (Lock). Held by value by each stream object and shared by
// the sound server with its tap; context() and mainloop() are borrowed for the
// loop's lifetime. Only the constructor throws; the rest throws nothing but
// std::bad_alloc.
//
// A server that answers late is not gone: only libpulse says that a
// connection is lost (a closed socket, or a handshake it gave up on). What
// Zivra bounds is how long a caller waits, so that no click waits on a
// stopped or hung server:
//  - A connection not made within the caller's patience stays under way,
//    and the next connection of the process takes it over rather than start
//    afresh, so a server slower than a click is still reached. While the
//    server stays silent, one such connection at a time starts its handshake
//    again when libpulse gives it up, so that the handshakes given up do not
//    fill a stopped server's listen queue; one the full queue refuses tries
//    again a second later.
//  - A wait for an answer that runs out (answerTime) leaves the connection
//    awaiting the server: until the server answers a look sent then, every
//    later wait on it ends at once as unanswered. The look is repeated for as
//    long as the connection lasts; the answer is told (setAnsweredHandler,
//    whenServerAnswers).
class PulseLoop {
public:
    static constexpr std::chrono::milliseconds answerTime{1500};
    // How long the constructor and the waits wait for the server:
    //  answerTime: at most answerTime each (a click's patience).
    //  noWait: the constructor takes over a connection made meanwhile or
    //    leaves one under way, without waiting; waits as answerTime.
    //  untilAnswered: as long as the server and libpulse take (libpulse
    //    gives a handshake up after about 30 s). Off the main thread only.
    enum class Patience { answerTime, noWait, untilAnswered };

    // Names the event thread threadName and connects. Throws ServerUnanswered
    // when the server has not answered within the patience (the connection
    // stays under way for the next one) or refuses while it still listens on
    // its socket (a stopped server's full listen queue: another connection
    // then tries again until it answers), SoundError with the server's code
    // and description when it cannot be reached or refuses otherwise.
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
    // wait ran out or the connection awaits an answer: op is then cancelled
    // (its callback is never called), though the server still carries out
    // the request when it goes on.
    bool await(pa_operation* op);
    void signal();

    // One wait, with the loop locked, for a signal() or the end of the time
    // the server has to answer since `start`; the caller checks what it waits
    // for and waits again. False, at once, when that time is over or the
    // connection awaits an answer.
    using Clock = std::chrono::steady_clock;
    bool waitSince(Clock::time_point start);

    // Whether a wait on this connection ran out and the server has not
    // answered since (loop locked). A request that changes something is not
    // sent meanwhile: its outcome could not be known.
    bool awaitsAnswer() const { return awaitingAnswer_; }

    // Called on the event thread, with the loop locked, each time the server
    // answers the look sent after a wait ran out; set or clear it with the
    // loop locked. It must only hand the news on.
    void setAnsweredHandler(std::function<void()> handler);

    // Calls `callback` once, the next time the server answers: a connection
    // is made (also one left under way), or a look sent after a wait ran out
    // is answered; on the thread that learns it, an event thread or the one
    // that made the connection. For those who wait for the server without a
    // connection of their own: when none is under way, one made and left for
    // later is asked for an answer, or else one is started to hear it; the
    // connections kept for later stay as many. Any thread; `callback` must
    // only hand the news on.
    static void whenServerAnswers(std::function<void()> callback);

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
    // Starts a connection of its own; throws SoundError.
    void connect(const std::string& threadName);
    // Waits for the handshake as the patience allows; 0 once the connection
    // is made, otherwise the code to throw with.
    int awaitConnection();
    // Leaves the connection under way for the next one to take over.
    void park();
    // One wait for a signal() until the deadline; false once it has passed.
    bool waitUntil(Clock::time_point deadline);
    static void onStateChanged(pa_context* context, void* self);
    static void onSubscription(pa_context* context, pa_subscription_event_type_t type,
                               std::uint32_t index, void* self);
    // Marks the connection as awaiting an answer and sends the look.
    void awaitAnswer();
    void look();
    static void onLook(pa_context* context, const pa_server_info* info, void* self);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    Patience patience_;
    bool awaitingAnswer_ = false;
    std::atomic<pid_t> threadId_{0}; // set once by the event thread
    std::map<std::uint64_t, Subscriber> subscribers_;
    std::function<void()> lostHandler_;
    std::function<void()> answeredHandler_;
    std::uint64_t nextSubscriber_ = 1;
};

} // namespace zivra::platform::sound
