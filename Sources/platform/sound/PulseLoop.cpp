#include "platform/sound/PulseLoop.h"

#include "platform/sound/SoundError.h"

#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>

#include <unistd.h>

namespace zivra::platform::sound {
namespace {

// Set when a wait went unanswered; cleared when a connection that waits as
// long as it takes has been made.
std::atomic<bool> unansweredServer{false};

} // namespace

bool PulseLoop::serverUnanswered() {
    return unansweredServer.load();
}

PulseLoop::PulseLoop(const std::string& threadName, Patience patience) : patience_(patience) {
    if (patience_ == Patience::answerTime && serverUnanswered()) {
        throw SoundError(PA_ERR_TIMEOUT, pa_strerror(PA_ERR_TIMEOUT));
    }
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_) {
        throw SoundError(PA_ERR_INTERNAL, pa_strerror(PA_ERR_INTERNAL));
    }
    pa_threaded_mainloop_set_name(mainloop_, threadName.c_str());
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Zivra");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "velmora.zivra");
    context_ =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), "Zivra", props);
    pa_proplist_free(props);
    if (!context_) {
        pa_threaded_mainloop_free(mainloop_);
        throw SoundError(PA_ERR_INTERNAL, pa_strerror(PA_ERR_INTERNAL));
    }
    pa_context_set_state_callback(context_, &PulseLoop::onStateChanged, this);
    pa_context_set_subscribe_callback(context_, &PulseLoop::onSubscription, this);

    int error = 0;
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(mainloop_) < 0) {
        error = pa_context_errno(context_);
    } else {
        Lock lock(*this);
        const Clock::time_point start = Clock::now();
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) {
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) {
                error = unanswered_ ? PA_ERR_TIMEOUT : pa_context_errno(context_);
                break;
            }
            if (!waitSince(start)) {
                error = PA_ERR_TIMEOUT;
                break;
            }
        }
    }
    if (error) {
        const std::string message = pa_strerror(error);
        pa_threaded_mainloop_stop(mainloop_);
        pa_context_unref(context_);
        pa_threaded_mainloop_free(mainloop_);
        throw SoundError(error, message);
    }
    {
        Lock lock(*this);
        pa_threaded_mainloop_once_unlocked(
            mainloop_,
            [](pa_threaded_mainloop*, void* self) {
                auto& threadId = static_cast<PulseLoop*>(self)->threadId_;
                threadId.store(gettid());
                threadId.notify_all();
            },
            this);
    }
    threadId_.wait(0);
    if (patience_ == Patience::untilAnswered) {
        unansweredServer = false;
    }
}

PulseLoop::~PulseLoop() {
    pa_threaded_mainloop_lock(mainloop_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_threaded_mainloop_unlock(mainloop_);
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
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
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(start + answerTime - Clock::now());
    if (unanswered_ || serverUnanswered() || left.count() <= 0) {
        return giveUp();
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

bool PulseLoop::giveUp() {
    unansweredServer = true;
    if (!unanswered_) {
        unanswered_ = true;
        // Every request still under way fails with it, and the owner of the
        // connection hears that it was lost.
        pa_context_disconnect(context_);
    }
    return false;
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
