#pragma once

#include "app/PermissionRowState.h"
#include "app/PermissionServices.h"

#include <QWidget>

#include <functional>

class QPushButton;
class QTimer;

namespace zivra::app {

class PermissionRow;

// The first-run window's content: the three permissions, each with its row, polled twice a
// second while shown so that a permission granted elsewhere shows up without a click.
// "Continue" is enabled once system audio and accessibility are granted and the media players
// are granted or none runs (a refusal blocks); it records that onboarding is complete.
// Main thread only; it keeps the services and the two callbacks, its window owns it, and the
// getters lend children it owns. Throws nothing but std::bad_alloc.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr int pollMilliseconds = 500;
    static constexpr QSize contentSize{420, 620};

    OnboardingView(PermissionServices services, std::function<void()> completion,
                   std::function<void()> quit, QWidget* parent = nullptr);

    bool canContinue() const;
    // Re-reads what can be read without asking anybody.
    void refreshNonInteractiveStates();
    void requestAudio();
    void requestAccessibility();
    void requestMediaPlayer();
    void openSecurityPane(const QString& anchor);

    PermissionRowState audioState() const { return audioState_; }
    PermissionRowState accessibilityState() const { return accessibilityState_; }
    PermissionRowState mediaPlayerState() const { return mediaPlayerState_; }
    bool isRequestingAudio() const { return isRequestingAudio_; }
    PermissionRow* audioRow() const { return audioRow_; }
    PermissionRow* accessibilityRow() const { return accessibilityRow_; }
    PermissionRow* mediaRow() const { return mediaRow_; }
    QPushButton* continueButton() const { return continue_; }
    QPushButton* quitButton() const { return quit_; }
    QTimer* pollTimer() const { return poll_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildTitleBar();
    QWidget* buildHeader();
    void redisplay();

    PermissionServices services_;
    std::function<void()> completion_;
    std::function<void()> quitAction_;
    PermissionRowState audioState_ = PermissionRowState::unknown;
    PermissionRowState accessibilityState_ = PermissionRowState::unknown;
    PermissionRowState mediaPlayerState_ = PermissionRowState::unknown;
    bool isRequestingAudio_ = false;
    bool isRequestingMedia_ = false;
    PermissionRow* audioRow_;
    PermissionRow* accessibilityRow_;
    PermissionRow* mediaRow_;
    QPushButton* continue_;
    QPushButton* quit_;
    QTimer* poll_;
};

} // namespace zivra::app
