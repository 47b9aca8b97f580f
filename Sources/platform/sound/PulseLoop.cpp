#include "platform/sound/PulseLoop.h"

#include "platform/sound/ServerSocket.h"
#include "platform/sound/SoundError.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace zivra::platform::sound {
namespace {

// A connection whose handshake its caller stopped waiting for, kept under
// way until the next connection of the process takes it over. Should libpulse
// give the handshake up while the server is silent, one of them starts again
// (the process's restarter, below), so that a server that answers after a
// long stop is still heard.
struct Parked {
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;  // replaced on the loop's thread: read it locked
    std::string server;             // whom it connects to: taken over only for the same
    pa_time_event* pause = nullptr; // set while it waits to connect again (loop locked)
    // A look sent once it was made, for those waiting to hear that the server answers: its
    // handshake's answer was told before they asked (loop locked; released when answered or
    // when the connection is no longer parked).
    pa_operation* look = nullptr;
};

// The one parked connection that connects again when its try fails. A
// stopped server keeps every handshake begun on it in its listen queue, also
// those libpulse gave up on, until it goes on; PulseAudio's queue holds five.
// One try at a time, rather than one per parked connection, leaves room for a
// long stop; a try the full queue refuses is made again after a pause.
std::atomic<Parked*> restarter{nullptr};
constexpr std::chrono::seconds pauseAfterRefusal{1};

// The server libpulse connects to when told none: PULSE_SERVER, or else its
// own default (told as empty).
std::string serverNamed() {
    const char* server = std::getenv("PULSE_SERVER");
    return server ? server : "";
}

// Once the server has been slower than a caller's patience, this many are
// kept under way or made: a start of the engine takes two new connections at
// once, which a server that takes seconds to answer a handshake then gives
// without a wait. Each try while the server is silent takes one over rather
// than add another.
constexpr std::size_t mostParked = 2;

// The connections under way, and those waiting to hear that the server
// answers. Never destroyed: the event threads of connections under way may
// still run while the process exits.
struct Waiting {
    std::mutex parkedMutex; // taken before any parked loop's lock, never after
    std::vector<std::unique_ptr<Parked>> parked;
    std::mutex answersMutex;
    std::vector<std::function<void()>> answerCallbacks;
};

Waiting& waiting() {
    static auto* const waiting = new Waiting;
    return *waiting;
}

void serverAnswered() {
    std::vector<std::function<void()>> callbacks;
    {
        const std::lock_guard lock(waiting().answersMutex);
        callbacks.swap(waiting().answerCallbacks);
    }
    for (const auto& callback : callbacks) {
        callback();
    }
}

pa_context* newContext(pa_threaded_mainloop* mainloop) {
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Zivra");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "velmora.zivra");
    pa_context* context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop), "Zivra", props);
    pa_proplist_free(props);
    return context;
}

// Ends a connection and its event thread; not on that thread. The context is
// read with the loop locked, as a parked loop's thread replaces it.
void release(pa_threaded_mainloop* mainloop, pa_context*& contextField) {
    pa_threaded_mainloop_lock(mainloop);
    pa_context* const context = std::exchange(contextField, nullptr);
    if (context) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_threaded_mainloop_unlock(mainloop);
    pa_threaded_mainloop_stop(mainloop);
    pa_threaded_mainloop_free(mainloop);
}

// Forgets the look sent for those waiting for an answer (parked loop locked).
// Its callback is never called after.
void dropLook(Parked& parkedLoop) {
    if (parkedLoop.look) {
        pa_operation_cancel(parkedLoop.look);
        pa_operation_unref(std::exchange(parkedLoop.look, nullptr));
    }
}

// The connection is no longer parked (its loop locked): it neither connects
// again, nor is the restarter, nor looks for an answer any more.
void unpark(Parked& parkedLoop) {
    Parked* self = &parkedLoop;
    restarter.compare_exchange_strong(self, nullptr);
    if (parkedLoop.pause) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(parkedLoop.mainloop);
        api->time_free(std::exchange(parkedLoop.pause, nullptr));
    }
    dropLook(parkedLoop);
    if (parkedLoop.context) {
        pa_context_set_state_callback(parkedLoop.context, nullptr, nullptr);
    }
}

void release(Parked& parkedLoop) {
    pa_threaded_mainloop_lock(parkedLoop.mainloop);
    unpark(parkedLoop);
    pa_threaded_mainloop_unlock(parkedLoop.mainloop);
    release(parkedLoop.mainloop, parkedLoop.context);
}

void onParkedState(pa_context* context, void* data);

// A new handshake in place of one that failed (parked loop locked).
void connectAgain(Parked& parkedLoop) {
    pa_context_set_state_callback(parkedLoop.context, nullptr, nullptr);
    pa_context_disconnect(parkedLoop.context);
    pa_context_unref(parkedLoop.context);
    parkedLoop.context = newContext(parkedLoop.mainloop);
    if (parkedLoop.context) {
        pa_context_set_state_callback(parkedLoop.context, &onParkedState, &parkedLoop);
        pa_context_connect(parkedLoop.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    } else {
        Parked* self = &parkedLoop;
        restarter.compare_exchange_strong(self, nullptr);
    }
}

// Connects again after a pause (parked loop locked).
void connectAfterPause(Parked& parkedLoop) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(parkedLoop.mainloop);
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), pa_usec_t{PA_USEC_PER_SEC} * pauseAfterRefusal.count());
    auto onPauseOver = [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto& parkedLoop = *static_cast<Parked*>(data);
        parkedLoop.pause = nullptr;
        api->time_free(event);
        connectAgain(parkedLoop);
    };
    parkedLoop.pause = api->time_new(api, &when, onPauseOver, &parkedLoop);
}

void onParkedState(pa_context* context, void* data) {
    auto& parkedLoop = *static_cast<Parked*>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    Parked* self = &parkedLoop;
    if (state == PA_CONTEXT_READY) {
        restarter.compare_exchange_strong(self, nullptr);
        serverAnswered();
        return;
    }
    if (state == PA_CONTEXT_FAILED && parkedLoop.look) {
        // Lost while it looked for an answer (a server restarted): a new
        // handshake tells the next one in its place.
        dropLook(parkedLoop);
        connectAgain(parkedLoop);
        return;
    }
    Parked* none = nullptr;
    if (state != PA_CONTEXT_FAILED ||
        !(restarter.compare_exchange_strong(none, self) || none == self)) {
        return;
    }
    // libpulse gives a handshake up after about 30 s: the server is silent,
    // not gone. Refused, it may be the full queue of a stopped server.
    const int error = pa_context_errno(context);
    if (error == PA_ERR_TIMEOUT) {
        connectAgain(parkedLoop);
    } else if (error == PA_ERR_CONNECTIONREFUSED) {
        connectAfterPause(parkedLoop);
    } else {
        // It tries no more: another may restart in its place.
        restarter.compare_exchange_strong(self, nullptr);
    }
}

// A connection started for later: the next caller takes it over made.
std::unique_ptr<Parked> startSpare() {
    auto spare = std::make_unique<Parked>();
    spare->server = serverNamed();
    spare->mainloop = pa_threaded_mainloop_new();
    if (!spare->mainloop) {
        return nullptr;
    }
    pa_threaded_mainloop_set_name(spare->mainloop, "zivra.spare");
    spare->context = newContext(spare->mainloop);
    if (spare->context) {
        pa_context_set_state_callback(spare->context, &onParkedState, spare.get());
        // Refused at once (a stopped server's full listen queue refuses so),
        // it may have become the restarter: then it tries again after its
        // pause and stays.
        const bool underWay =
            pa_context_connect(spare->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 ||
            spare->pause;
        if (underWay && pa_threaded_mainloop_start(spare->mainloop) == 0) {
            return spare;
        }
    }
    // Neither the restarter nor pausing once it is gone.
    release(*spare);
    return nullptr;
}

// Starts one more connection under way; false when it cannot be started.
bool addSpare() {
    std::unique_ptr<Parked> spare = startSpare();
    if (!spare) {
        return false;
    }
    const std::lock_guard lock(waiting().parkedMutex);
    waiting().parked.push_back(std::move(spare));
    return true;
}

// Keeps mostParked connections under way or made.
void topUpParked() {
    for (;;) {
        {
            const std::lock_guard lock(waiting().parkedMutex);
            if (waiting().parked.size() >= mostParked) {
                return;
            }
        }
        if (!addSpare()) {
            return;
        }
    }
}

// How a parked connection stands: one that pauses before it connects again
// counts as under way, but cannot be taken over until it does. A made one
// that looks for an answer hears the next, as one under way does.
enum class Standing { made, looking, underWay, pausing, failed };

Standing standingOf(const Parked& parkedLoop) {
    if (parkedLoop.server != serverNamed()) {
        // One to another server is of no use here.
        return Standing::failed;
    }
    pa_threaded_mainloop_lock(parkedLoop.mainloop);
    const pa_context_state_t state =
        parkedLoop.context ? pa_context_get_state(parkedLoop.context) : PA_CONTEXT_FAILED;
    const bool pausing = parkedLoop.pause != nullptr;
    const bool looking = parkedLoop.look != nullptr;
    pa_threaded_mainloop_unlock(parkedLoop.mainloop);
    if (pausing) {
        return Standing::pausing;
    }
    if (state == PA_CONTEXT_READY) {
        return looking ? Standing::looking : Standing::made;
    }
    return PA_CONTEXT_IS_GOOD(state) ? Standing::underWay : Standing::failed;
}

// What a new connection finds left under way: the one to take over (a made
// one first), and whether one is still under way when none was taken.
struct TakenOver {
    std::unique_ptr<Parked> loop;
    bool made = false; // the loop's handshake: its answer was told then
    bool underWay = false;
};

std::vector<Standing> standingsOfParked() {
    std::vector<Standing> standings;
    for (const auto& parkedLoop : waiting().parked) {
        standings.push_back(standingOf(*parkedLoop));
    }
    return standings;
}

// Takes those failed for good (refused while no other connection was silent,
// say) out of the parked ones (parkedMutex held), to be released once it is
// not: a new connection tells afresh. The restarter has already started
// again, or pauses to.
std::vector<std::unique_ptr<Parked>> takeOutFailed(std::vector<Standing>& standings) {
    auto& parked = waiting().parked;
    std::vector<std::unique_ptr<Parked>> failed;
    for (std::size_t n = parked.size(); n-- > 0;) {
        if (standings[n] == Standing::failed) {
            failed.push_back(std::move(parked[n]));
            parked.erase(parked.begin() + static_cast<std::ptrdiff_t>(n));
            standings.erase(standings.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }
    return failed;
}

void releaseAll(const std::vector<std::unique_ptr<Parked>>& loops) {
    for (const auto& parkedLoop : loops) {
        release(*parkedLoop);
    }
}

TakenOver takeOverParked(bool onlyMade) {
    auto& parked = waiting().parked;
    TakenOver taken;
    std::vector<std::unique_ptr<Parked>> failed;
    {
        const std::lock_guard lock(waiting().parkedMutex);
        std::vector<Standing> standings = standingsOfParked();
        // One that looks for an answer last among the made: its look goes
        // with it.
        auto pick = std::find(standings.begin(), standings.end(), Standing::made);
        if (pick == standings.end()) {
            pick = std::find(standings.begin(), standings.end(), Standing::looking);
        }
        if (pick == standings.end() && !onlyMade) {
            pick = std::find(standings.begin(), standings.end(), Standing::underWay);
        }
        if (pick != standings.end()) {
            const auto at = parked.begin() + (pick - standings.begin());
            taken.loop = std::move(*at);
            taken.made = *pick != Standing::underWay;
            parked.erase(at);
            standings.erase(pick);
        }
        failed = takeOutFailed(standings);
        taken.underWay = !taken.loop && !parked.empty();
    }
    releaseAll(failed);
    return taken;
}

bool lookFor(Parked& parkedLoop);

void onParkedLook(pa_context* context, const pa_server_info* info, void* data) {
    auto& parkedLoop = *static_cast<Parked*>(data);
    if (pa_operation* look = std::exchange(parkedLoop.look, nullptr)) {
        pa_operation_unref(look);
    }
    if (info) {
        serverAnswered();
    } else if (pa_context_get_state(context) == PA_CONTEXT_READY) {
        // libpulse stopped waiting for this answer (after about 30 s); the
        // server may still give the next one.
        lookFor(parkedLoop);
    }
}

// Asks a made connection for an answer, told once the server gives it
// (parked loop locked); false when the connection is not made.
bool lookFor(Parked& parkedLoop) {
    if (!parkedLoop.context || pa_context_get_state(parkedLoop.context) != PA_CONTEXT_READY) {
        return false;
    }
    parkedLoop.look = pa_context_get_server_info(parkedLoop.context, &onParkedLook, &parkedLoop);
    return parkedLoop.look != nullptr;
}

// Makes sure the server's next answer is heard, for those told of it whose
// own connection went or was never made: by a connection under way, else by a
// look on a made one, whose handshake's answer may have been told before they
// asked, else by a new connection in place of those that failed. Each try of
// a caller that keeps asking thus adds no connection to those parked.
void keepOneUnderWay() {
    auto& parked = waiting().parked;
    std::vector<std::unique_ptr<Parked>> failed;
    {
        const std::lock_guard lock(waiting().parkedMutex);
        std::vector<Standing> standings = standingsOfParked();
        if (std::ranges::any_of(standings, [](Standing standing) {
                return standing == Standing::underWay || standing == Standing::pausing ||
                       standing == Standing::looking;
            })) {
            return;
        }
        for (std::size_t n = 0; n < parked.size(); ++n) {
            if (standings[n] == Standing::made) {
                pa_threaded_mainloop_lock(parked[n]->mainloop);
                const bool looks = lookFor(*parked[n]);
                pa_threaded_mainloop_unlock(parked[n]->mainloop);
                if (looks) {
                    return;
                }
            }
        }
        failed = takeOutFailed(standings);
    }
    releaseAll(failed);
    addSpare();
}

// A connection that failed. Refused, it is a server gone only when nothing
// listens on the server's socket any more: a stopped server whose listen
// queue is full refuses at once too, and is only silent.
[[noreturn]] void failConnecting(int error) {
    if (error == PA_ERR_CONNECTIONREFUSED && serverListens()) {
        keepOneUnderWay();
        throw ServerUnanswered(error, pa_strerror(error));
    }
    throw SoundError(error, pa_strerror(error));
}

} // namespace

void PulseLoop::whenServerAnswers(std::function<void()> callback) {
    {
        const std::lock_guard lock(waiting().answersMutex);
        waiting().answerCallbacks.push_back(std::move(callback));
    }
    // The connection whose wait ran out may have gone with its caller (a
    // microphone whose stream the server never confirmed).
    keepOneUnderWay();
}

PulseLoop::PulseLoop(const std::string& threadName, Patience patience) : patience_(patience) {
    TakenOver taken = takeOverParked(patience_ == Patience::noWait);
    if (taken.loop) {
        mainloop_ = taken.loop->mainloop;
        {
            // Its handshake may just have been started again on its thread.
            const Lock lock(*this);
            unpark(*taken.loop);
            context_ = taken.loop->context;
            pa_context_set_state_callback(context_, &PulseLoop::onStateChanged, this);
            pa_context_set_subscribe_callback(context_, &PulseLoop::onSubscription, this);
        }
        topUpParked();
    } else if (taken.underWay) {
        throw ServerUnanswered(PA_ERR_TIMEOUT, pa_strerror(PA_ERR_TIMEOUT));
    } else {
        connect(threadName);
    }

    const int error = awaitConnection();
    if (error == PA_ERR_TIMEOUT && patience_ != Patience::untilAnswered) {
        park();
        throw ServerUnanswered(error, pa_strerror(error));
    }
    if (error) {
        release(mainloop_, context_);
        failConnecting(error);
    }
    // Named from the thread itself: a loop taken over was started under
    // another caller's name.
    struct Naming {
        PulseLoop* loop;
        const char* name;
    } naming{this, threadName.c_str()};
    {
        Lock lock(*this);
        pa_threaded_mainloop_once_unlocked(
            mainloop_,
            [](pa_threaded_mainloop*, void* data) {
                const auto* naming = static_cast<Naming*>(data);
                prctl(PR_SET_NAME, naming->name);
                auto& threadId = naming->loop->threadId_;
                threadId.store(gettid());
                threadId.notify_all();
            },
            &naming);
    }
    threadId_.wait(0);
    // A connection made before it was taken over told of that answer then;
    // the server may have stopped since.
    if (!taken.made) {
        serverAnswered();
    }
}

void PulseLoop::connect(const std::string& threadName) {
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_) {
        throw SoundError(PA_ERR_INTERNAL, pa_strerror(PA_ERR_INTERNAL));
    }
    pa_threaded_mainloop_set_name(mainloop_, threadName.c_str());
    context_ = newContext(mainloop_);
    if (!context_) {
        pa_threaded_mainloop_free(mainloop_);
        throw SoundError(PA_ERR_INTERNAL, pa_strerror(PA_ERR_INTERNAL));
    }
    pa_context_set_state_callback(context_, &PulseLoop::onStateChanged, this);
    pa_context_set_subscribe_callback(context_, &PulseLoop::onSubscription, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(mainloop_) < 0) {
        const int error = pa_context_errno(context_);
        pa_context_unref(context_);
        pa_threaded_mainloop_free(mainloop_);
        failConnecting(error);
    }
}

int PulseLoop::awaitConnection() {
    Lock lock(*this);
    const Clock::time_point deadline = Clock::now() + answerTime;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
            return 0;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            return pa_context_errno(context_);
        }
        if (patience_ == Patience::untilAnswered) {
            pa_threaded_mainloop_wait(mainloop_);
        } else if (patience_ == Patience::noWait || !waitUntil(deadline)) {
            return PA_ERR_TIMEOUT;
        }
    }
}

void PulseLoop::park() {
    auto parkedLoop = std::make_unique<Parked>(Parked{mainloop_, context_, serverNamed()});
    bool made = false;
    {
        Lock lock(*this);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_set_state_callback(context_, &onParkedState, parkedLoop.get());
        made = pa_context_get_state(context_) == PA_CONTEXT_READY;
    }
    if (made) {
        // Made since the wait ran out: its answer is told here, as the
        // connection that takes it over will not tell it again.
        serverAnswered();
    }
    std::unique_ptr<Parked> dropped;
    {
        auto& parked = waiting().parked;
        const std::lock_guard lock(waiting().parkedMutex);
        parked.push_back(std::move(parkedLoop));
        if (parked.size() > mostParked) {
            dropped = std::move(parked.front());
            parked.erase(parked.begin());
        }
    }
    if (dropped) {
        release(*dropped);
    }
    mainloop_ = nullptr;
    context_ = nullptr;
    topUpParked();
}

PulseLoop::~PulseLoop() {
    release(mainloop_, context_);
}

bool PulseLoop::isConnected() const {
    Lock lock(*this);
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

int PulseLoop::lastError() const {
    return pa_context_errno(context_);
}

std::string PulseLoop::describe(int error) const {
    return pa_strerror(error);
}

bool PulseLoop::await(pa_operation* op) {
    if (!op) {
        return true;
    }
    const Clock::time_point start = Clock::now();
    bool answered = true;
    while (answered && pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
        answered = waitSince(start);
    }
    if (!answered) {
        pa_operation_cancel(op);
    }
    pa_operation_unref(op);
    return answered;
}

bool PulseLoop::waitSince(Clock::time_point start) {
    if (patience_ == Patience::untilAnswered) {
        pa_threaded_mainloop_wait(mainloop_);
        return true;
    }
    if (awaitingAnswer_ || !waitUntil(start + answerTime)) {
        awaitAnswer();
        return false;
    }
    return true;
}

bool PulseLoop::waitUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        return false;
    }
    // Wakes this wait when the time is over, should nothing else.
    auto wake = [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
        static_cast<PulseLoop*>(self)->signal();
    };
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(left.count()), wake, this);
    pa_threaded_mainloop_wait(mainloop_);
    if (timer) {
        pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
    }
    return true;
}

void PulseLoop::awaitAnswer() {
    if (!awaitingAnswer_) {
        awaitingAnswer_ = true;
        look();
    }
}

// Answered only once the server has dealt with every request sent before it.
void PulseLoop::look() {
    if (pa_operation* op = pa_context_get_server_info(context_, &PulseLoop::onLook, this)) {
        pa_operation_unref(op);
    }
}

void PulseLoop::onLook(pa_context* context, const pa_server_info* info, void* self) {
    auto* loop = static_cast<PulseLoop*>(self);
    if (!info) {
        // libpulse stopped waiting for this answer (after about 30 s); the
        // server may still give the next one.
        if (pa_context_get_state(context) == PA_CONTEXT_READY) {
            loop->look();
        }
        return;
    }
    loop->awaitingAnswer_ = false;
    loop->signal();
    if (loop->answeredHandler_) {
        const std::function<void()> answered = loop->answeredHandler_;
        answered();
    }
    serverAnswered();
}

void PulseLoop::setAnsweredHandler(std::function<void()> handler) {
    answeredHandler_ = std::move(handler);
}

void PulseLoop::subscribeToDeviceEvents() {
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER);
    auto onDone = [](pa_context*, int, void* self) { static_cast<PulseLoop*>(self)->signal(); };
    await(pa_context_subscribe(context_, mask, onDone, this));
}

void PulseLoop::signal() {
    pa_threaded_mainloop_signal(mainloop_, 0);
}

std::uint64_t PulseLoop::addSubscriber(Subscriber subscriber) {
    const std::uint64_t id = nextSubscriber_++;
    subscribers_.emplace(id, std::move(subscriber));
    return id;
}

void PulseLoop::removeSubscriber(std::uint64_t id) {
    subscribers_.erase(id);
}

void PulseLoop::setLostHandler(std::function<void()> handler) {
    lostHandler_ = std::move(handler);
}

void PulseLoop::onStateChanged(pa_context* context, void* self) {
    auto* loop = static_cast<PulseLoop*>(self);
    // A failed connection must also wake operations that will never finish.
    loop->signal();
    if (loop->lostHandler_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        // The state never turns good again: the handler is called once.
        std::function<void()> lost = std::move(loop->lostHandler_);
        loop->lostHandler_ = nullptr;
        lost();
    }
}

void PulseLoop::onSubscription(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                               void* self) {
    for (const auto& [id, subscriber] : static_cast<PulseLoop*>(self)->subscribers_) {
        subscriber(type, index);
    }
}

} // namespace zivra::platform::sound
