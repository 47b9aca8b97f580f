#pragma once

#include <QWidget>

namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::app {

class WaveformView;

// The main panel's level display: 28 bars on a rounded card that move while the engine
// processes sound for pitch or vocals and lie flat otherwise. Main thread only; the engine
// must outlive the card, which its parent owns. Throws nothing but std::bad_alloc.
class WaveformCard : public QWidget {
    Q_OBJECT
public:
    static constexpr int barCount = 28;
    static constexpr int cardHeight = 80;
    static constexpr int inset = 14;

    explicit WaveformCard(audio::ZivraAudio& audio, QWidget* parent = nullptr);

    void refresh();
    bool isActive() const;
    WaveformView* view() const { return view_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    audio::ZivraAudio& audio_;
    WaveformView* view_;
};

} // namespace zivra::app
