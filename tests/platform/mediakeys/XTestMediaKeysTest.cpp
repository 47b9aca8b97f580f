#include "handoff/MediaController.h"
#include "platform/mediakeys/MediaKeys.h"
#include "tests/handoff/FakePlayerScripts.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

// Last: Xlib's macros (None, Status, ...) clash with names in the headers above.
#include <X11/XF86keysym.h>
#include <X11/Xlib.h>

namespace zivra::platform::mediakeys {

using Command = handoff::MediaController::Command;

namespace {

struct KeyEvent {
    int type;
    KeySym keySym;
    bool operator==(const KeyEvent&) const = default;
};

void PrintTo(const KeyEvent& event, std::ostream* out) {
    *out << (event.type == KeyPress ? "press " : "release ") << XKeysymToString(event.keySym);
}

// A focused window of the test's own connection that hears the keyboard.
class KeyboardListener {
public:
    KeyboardListener() {
        display_ = XOpenDisplay(nullptr);
        if (!display_) {
            return;
        }
        window_ =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapWindow(display_, window_);
        XEvent event;
        do {
            XWindowEvent(display_, window_, StructureNotifyMask, &event);
        } while (event.type != MapNotify);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }

    ~KeyboardListener() {
        if (display_) {
            XCloseDisplay(display_);
        }
    }

    bool ready() const { return display_ != nullptr; }

    // The next `count` key events, or fewer when they do not come.
    std::vector<KeyEvent> keys(std::size_t count) {
        std::vector<KeyEvent> events;
        for (int attempt = 0; attempt < 500 && events.size() < count; ++attempt) {
            XSync(display_, False);
            while (XPending(display_) && events.size() < count) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == KeyPress || event.type == KeyRelease) {
                    events.push_back({event.type, XLookupKeysym(&event.xkey, 0)});
                }
            }
            if (events.size() < count) {
                QThread::msleep(20);
            }
        }
        return events;
    }

private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

class XTestMediaKeysTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(listener.ready()); }

    KeyboardListener listener;
    MediaKeys& keys = systemMediaKeys();
};

} // namespace

TEST_F(XTestMediaKeysTest, AnXDisplayWithXTestTrustsTheProcess) {
    EXPECT_TRUE(keys.isProcessTrusted());
    EXPECT_TRUE(keys.isProcessTrustedWithPrompt());
}

TEST_F(XTestMediaKeysTest, EveryCommandArrivesAsItsMediaKeyPressedThenReleased) {
    handoff::FakePlayerScripts scripts;
    handoff::MediaController controller(keys, scripts);
    const std::pair<Command, KeySym> expected[] = {
        {Command::playPause, XF86XK_AudioPlay},      {Command::nextTrack, XF86XK_AudioNext},
        {Command::previousTrack, XF86XK_AudioPrev},  {Command::rewind, XF86XK_AudioRewind},
        {Command::fastForward, XF86XK_AudioForward}, {Command::mute, XF86XK_AudioMute},
    };
    for (const auto& [command, keySym] : expected) {
        SCOPED_TRACE(XKeysymToString(keySym));
        controller.send(command);
        QCoreApplication::processEvents();
        EXPECT_EQ(listener.keys(2),
                  (std::vector<KeyEvent>{{KeyPress, keySym}, {KeyRelease, keySym}}));
    }
    EXPECT_FALSE(controller.hasPromptedForAccessibility);
    EXPECT_EQ(scripts.sources.size(), 12u);
}

TEST_F(XTestMediaKeysTest, EventsWithoutAMediaKeyAreIgnored) {
    platform::mediakeys::SystemDefinedEvent notAMediaKey;
    notAMediaKey.type = 14;
    notAMediaKey.subtype = 8;
    notAMediaKey.data1 = (99 << 16) | 0xA00;
    keys.post(notAMediaKey);
    platform::mediakeys::SystemDefinedEvent otherSubtype = notAMediaKey;
    otherSubtype.subtype = 7;
    otherSubtype.data1 = (16 << 16) | 0xA00;
    keys.post(otherSubtype);
    platform::mediakeys::SystemDefinedEvent otherState = otherSubtype;
    otherState.subtype = 8;
    otherState.data1 = (16 << 16) | 0xC00;
    keys.post(otherState);

    platform::mediakeys::SystemDefinedEvent muteDown = otherState;
    muteDown.data1 = (7 << 16) | 0xA00;
    platform::mediakeys::SystemDefinedEvent muteUp = otherState;
    muteUp.data1 = (7 << 16) | 0xB00;
    keys.post(muteDown);
    keys.post(muteUp);
    EXPECT_EQ(listener.keys(2),
              (std::vector<KeyEvent>{{KeyPress, XF86XK_AudioMute}, {KeyRelease, XF86XK_AudioMute}}))
        << "the first key to arrive is the mute key";
}

} // namespace zivra::platform::mediakeys
