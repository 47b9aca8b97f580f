#pragma once

#include "app/PermissionServices.h"

#include <QIcon>
#include <QObject>
#include <QPixmap>

#include <functional>

class QSystemTrayIcon;
namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::app {

class OnboardingWindow;
class PopoverWindow;

// Starts Zivra: installs the engine's permission callbacks, creates the tray item and shows the
// onboarding window while it is due; opens and closes the popover; cleans the engine up at
// quit. Main thread only; the engine must outlive it; it keeps the services and owns the tray
// item and the two windows (the getters lend them; null until created). Throws nothing but
// std::bad_alloc.
class ZivraAppDelegate : public QObject {
    Q_OBJECT
public:
    static inline const QString bundleIdentifier = QStringLiteral("velmora.zivra");

    ZivraAppDelegate(audio::ZivraAudio& audio, PermissionServices services,
                     QObject* parent = nullptr);
    ~ZivraAppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void togglePopover();
    void showPopover();
    // Zivra was started again: the onboarding while it is due, else the popover, comes forward.
    void reopen();
    void popoverDidClose();
    void createStatusItem();
    void showOnboardingIfNeeded();
    bool onboardingRequired() const;

    // The tray icon: Zivra's own drawing, else the microphone symbol turned by 45 degrees,
    // else the plain microphone symbol.
    static QIcon statusBarIcon();
    // The symbol drawn at 70 % of a square of size points, turned by rotation radians about the
    // centre, in the palette's text colour. Null when there is no such symbol.
    static QPixmap rotatedSymbolIcon(const QString& name, int size, double rotation);

    // How the application ends (from the onboarding's "Quit", or when the popover's window is
    // closed where no tray exists); replaceable for tests.
    std::function<void()> terminate;

    PopoverWindow* popover() const { return popover_; }
    OnboardingWindow* onboardingWindow() const { return onboardingWindow_; }
    bool shouldReopenPopoverAfterPermission() const { return shouldReopenPopoverAfterPermission_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void permissionPromptAction();
    void permissionGrantedAction();
    bool hasTray() const;

    audio::ZivraAudio& audio_;
    PermissionServices services_;
    QSystemTrayIcon* statusItem_ = nullptr;
    PopoverWindow* popover_ = nullptr;
    OnboardingWindow* onboardingWindow_ = nullptr;
    bool shouldReopenPopoverAfterPermission_ = false;
};

} // namespace zivra::app
