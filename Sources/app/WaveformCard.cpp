#include "app/WaveformCard.h"

#include "app/Style.h"
#include "app/WaveformView.h"
#include "audio/ZivraAudio.h"

#include <QPainter>
#include <QVBoxLayout>

namespace zivra::app {

WaveformCard::WaveformCard(audio::ZivraAudio& audio, QWidget* parent)
    : QWidget(parent), audio_(audio), view_(new WaveformView(barCount, zivraTeal(), this)) {
    setFixedHeight(cardHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->addWidget(view_);
    for (auto signal :
         {&audio::ZivraAudio::isEngineRunningChanged, &audio::ZivraAudio::pitchEnabledChanged,
          &audio::ZivraAudio::removeVocalsEnabledChanged}) {
        connect(&audio_, signal, this, &WaveformCard::refresh);
    }
    connect(&audio_, &audio::ZivraAudio::waveformSamplesChanged, this, &WaveformCard::refresh);
    refresh();
}

bool WaveformCard::isActive() const {
    return audio_.isEngineRunning() && (audio_.pitchEnabled() || audio_.removeVocalsEnabled());
}

void WaveformCard::refresh() {
    const bool active = isActive();
    view_->setSamples(active ? audio_.waveformSamples() : QList<float>(barCount, 0.0f), active);
}

void WaveformCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(regularMaterial());
    painter.drawRoundedRect(QRectF(rect()), inset, inset);
}

} // namespace zivra::app
