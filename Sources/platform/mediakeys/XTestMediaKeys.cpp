#include "platform/mediakeys/Logging.h"
#include "platform/mediakeys/MediaKeys.h"

#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace zivra::platform::mediakeys {

namespace {

// The keyboard's media keys by the key type they report.
KeySym keySymOf(long keyType) {
    switch (keyType) {
    case 16:
        return XF86XK_AudioPlay;
    case 17:
        return XF86XK_AudioNext;
    case 18:
        return XF86XK_AudioPrev;
    case 19:
        return XF86XK_AudioForward;
    case 20:
        return XF86XK_AudioRewind;
    case 7:
        return XF86XK_AudioMute;
    default:
        return NoSymbol;
    }
}

// Media keys as synthetic key presses on the X display; the display counts as trusting this
// process when it offers the XTEST extension.
class XTestMediaKeys final : public MediaKeys {
public:
    ~XTestMediaKeys() override {
        if (display_) {
            XCloseDisplay(display_);
        }
    }

    bool isProcessTrusted() override { return display() != nullptr; }

    // X has nothing to ask the user: trust is the extension being there.
    bool isProcessTrustedWithPrompt() override { return isProcessTrusted(); }

    void post(const SystemDefinedEvent& event) override {
        if (event.type != SystemDefinedEvent::systemDefinedType ||
            event.subtype != SystemDefinedEvent::auxiliaryControlButtons) {
            return;
        }
        const long state = (event.data1 >> 8) & 0xFF;
        const KeySym keySym = keySymOf((event.data1 >> 16) & 0xFFFF);
        Display* x = display();
        if (!x || keySym == NoSymbol ||
            (state != SystemDefinedEvent::pressedState &&
             state != SystemDefinedEvent::releasedState)) {
            return;
        }
        const KeyCode keyCode = XKeysymToKeycode(x, keySym);
        if (keyCode == 0) {
            return;
        }
        XTestFakeKeyEvent(x, keyCode, state == SystemDefinedEvent::pressedState ? True : False,
                          CurrentTime);
        XFlush(x);
    }

private:
    // The display, opened on first use; null when there is none or it lacks XTEST.
    Display* display() {
        if (!opened_) {
            opened_ = true;
            display_ = XOpenDisplay(nullptr);
            int eventBase = 0, errorBase = 0, major = 0, minor = 0;
            if (!display_) {
                qCWarning(mediaKeysLog) << "No X display: media keys cannot be sent";
            } else if (!XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor)) {
                qCWarning(mediaKeysLog)
                    << "The X display has no XTEST extension: media keys cannot be sent";
                XCloseDisplay(display_);
                display_ = nullptr;
            }
        }
        return display_;
    }

    bool opened_ = false;
    Display* display_ = nullptr;
};

} // namespace

MediaKeys& systemMediaKeys() {
    static XTestMediaKeys keys;
    return keys;
}

} // namespace zivra::platform::mediakeys
