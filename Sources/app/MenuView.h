#pragma once

#include <QColor>
#include <QWidget>

#include <array>
#include <functional>

class QMenu;
class QVariantAnimation;
class QToolButton;
namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::handoff {
class HandoffServer;
}
namespace zivra::tuner {
class Tuner;
}

namespace zivra::app {

class HandoffPanel;
class PitchSection;
class PresetsPanel;
class QuitConfirmation;
class VocalSection;
class WaveformCard;

// The popover's root: the main panel (header, pitch and vocal sections, waveform card, footer)
// and over it whichever side panels are open, stacked presets, Handoff, tuner, the last on top.
// Its width is fixed; its height is that of the taller of the main panel and the open panels.
// Main thread only; the engine must outlive the view, which its parent (the popover window)
// owns. The getters lend widgets the view owns. Throws nothing but std::bad_alloc.
class MenuView : public QWidget {
    Q_OBJECT
public:
    enum class Panel { presets = 0, handoff, tuner };
    static constexpr int panelWidth = 320;
    static constexpr int slideMilliseconds = 200;

    explicit MenuView(audio::ZivraAudio& audio, QWidget* parent = nullptr);
    ~MenuView() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // A panel's flag. Opening shows the panel over the main panel, closing hides it; inside
    // withPanelAnimation the panel slides in from, or out to, the right.
    bool isShowing(Panel panel) const;
    void setShowing(Panel panel, bool showing);
    void withPanelAnimation(const std::function<void()>& change);
    // The widget shown while the panel's flag is set (the Handoff and tuner panels come from
    // their own parts of Zivra). The view takes ownership.
    void installPanel(Panel panel, QWidget* widget);
    QWidget* panel(Panel panel) const;

    bool showingQuitConfirmation() const { return showingQuitConfirmation_; }
    void setShowingQuitConfirmation(bool showing);

    // What "Quit" in the confirmation does: ends the application unless replaced.
    std::function<void()> terminate;
    // The Handoff that the Handoff panel drives: the shared one unless replaced before the
    // panel is first opened. Called once, on the main thread; the server must outlive the view.
    std::function<handoff::HandoffServer&()> handoffServer;

    // The tuner that the tuner panel drives: the shared one unless replaced before the panel is
    // first opened. Called once, on the main thread; the tuner must outlive the view.
    std::function<tuner::Tuner&()> tuner;

    // "Handoff to phone…": builds the Handoff panel the first time and slides it in.
    void openHandoffPanel();
    // The Handoff panel, once it has been opened; null before.
    HandoffPanel* handoffPanel() const;
    // The tuning-fork button: builds the tuner panel the first time and slides it in.
    void openTunerPanel();

    QWidget* mainPanel() const { return main_; }
    QToolButton* audioSourceButton() const { return sourceButton_; }
    QToolButton* tunerButton() const { return tunerButton_; }
    QToolButton* powerButton() const { return powerButton_; }
    QToolButton* settingsButton() const { return settingsButton_; }
    PresetsPanel* presetsPanel() const { return presets_; }
    QuitConfirmation* quitConfirmation() const { return quit_; }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct SidePanel {
        QWidget* widget = nullptr;
        bool showing = false;
        QVariantAnimation* slide = nullptr;
    };

    QWidget* buildHeader();
    QWidget* buildFooter();
    // The menus' output entries: "System default", a divider and one entry per device, the
    // selected one marked; rebuilt from the engine each time the menu opens.
    void fillOutputMenu(QMenu* menu);
    void layoutChildren();
    void restack();
    SidePanel& side(Panel panel) { return panels_[int(panel)]; }
    const SidePanel& side(Panel panel) const { return panels_[int(panel)]; }

    audio::ZivraAudio& audio_;
    QWidget* main_ = nullptr;
    QToolButton* sourceButton_ = nullptr;
    QToolButton* tunerButton_ = nullptr;
    QToolButton* powerButton_ = nullptr;
    QToolButton* settingsButton_ = nullptr;
    PitchSection* pitch_ = nullptr;
    VocalSection* vocal_ = nullptr;
    WaveformCard* waveform_ = nullptr;
    PresetsPanel* presets_ = nullptr;
    QuitConfirmation* quit_ = nullptr;
    std::array<SidePanel, 3> panels_;
    bool animating_ = false;
    bool showingQuitConfirmation_ = false;
};

} // namespace zivra::app
