#pragma once

#include <cstdint>

namespace zivra::platform::mediakeys {

// A system-defined event of the kind that carries the keyboard's media keys: the fields a
// media-key press or release is made of.
struct SystemDefinedEvent {
    static constexpr int systemDefinedType = 14;
    static constexpr short auxiliaryControlButtons = 8;
    // data1 holds the key type in bits 16 to 31 and one of these states in bits 8 to 15.
    static constexpr long pressedState = 0xA;
    static constexpr long releasedState = 0xB;

    int type = 0;
    double x = 0;
    double y = 0;
    std::uint64_t modifierFlags = 0;
    double timestamp = 0;
    int windowNumber = 0;
    short subtype = 0;
    long data1 = 0;
    long data2 = 0;
};

// Posting media keys to the desktop, and the trust the desktop requires for it. Nothing
// throws; a desktop that cannot be reached makes posting a no-op.
class MediaKeys {
public:
    virtual ~MediaKeys() = default;

    // True when this process may post key events.
    virtual bool isProcessTrusted() = 0;
    // Asks the desktop to let this process post key events (it may show a prompt); answers
    // whether the process is trusted now.
    virtual bool isProcessTrustedWithPrompt() = 0;
    // Posts one media-key event; events that carry no media key are ignored.
    virtual void post(const SystemDefinedEvent& event) = 0;
};

// The desktop's media keys for this process (main thread only). A process-wide object that
// lives until exit; callers only borrow it.
MediaKeys& systemMediaKeys();

} // namespace zivra::platform::mediakeys
