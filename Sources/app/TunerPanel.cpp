#include "app/TunerPanel.h"

#include "app/PanelButton.h"
#include "app/PanelPieces.h"
#include "app/Style.h"
#include "app/TunerMeter.h"
#include "tuner/Tuner.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace zivra::app {
namespace {

constexpr double meterRange = 50;

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

// A row of a title on the left and a value on the right.
QHBoxLayout* valueRow(QLabel* title, QLabel* value) {
    auto* row = new QHBoxLayout;
    row->addWidget(title, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(value, 0, Qt::AlignVCenter);
    return row;
}

} // namespace

TunerPanel::TunerPanel(tuner::Tuner& tuner, std::function<void()> back, QWidget* parent)
    : SidePanelFrame(16, parent), tuner_(tuner) {
    column()->addWidget(panelHeader(QStringLiteral("Tuner"), std::move(back), this));
    column()->addWidget(buildReading());
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    setTextColor(divider, faded(secondaryTextColor(), 0.5f));
    column()->addWidget(divider);
    column()->addWidget(buildReference());
    column()->addStretch(1);

    using tuner::Tuner;
    connect(&tuner_, &Tuner::detectedNoteChanged, this, &TunerPanel::refreshReading);
    connect(&tuner_, &Tuner::detectedCentsChanged, this, &TunerPanel::refreshReading);
    connect(&tuner_, &Tuner::detectedFrequencyChanged, this, &TunerPanel::refreshReading);
    connect(&tuner_, &Tuner::isDetectingChanged, this, &TunerPanel::refreshListening);
    connect(&tuner_, &Tuner::referenceNoteChanged, this, &TunerPanel::refreshReference);
    connect(&tuner_, &Tuner::isReferencePlayingChanged, this, &TunerPanel::refreshReference);
    refreshReading();
    refreshListening();
    refreshReference();
}

QWidget* TunerPanel::buildReading() {
    auto* section = new QWidget(this);
    auto* stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(12);
    const QColor primary = palette().color(QPalette::WindowText);
    const QColor secondary = secondaryTextColor();

    note_ = label(QString(), systemFont(28, QFont::Bold), zivraTeal(), section);
    stack->addLayout(valueRow(
        label(QStringLiteral("Detected"), systemFont(13, QFont::Medium), primary, section), note_));
    cents_ = label(QString(), systemFont(15, QFont::DemiBold), primary, section);
    stack->addLayout(
        valueRow(label(QStringLiteral("Cents"), systemFont(13), secondary, section), cents_));
    QFont monospaced = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    monospaced.setPixelSize(13);
    frequency_ = label(QString(), monospaced, secondary, section);
    stack->addLayout(valueRow(
        label(QStringLiteral("Frequency"), systemFont(13), secondary, section), frequency_));

    meter_ = new TunerMeter(tuner_.detectedCents(), meterRange, zivraTeal(), section);
    stack->addWidget(meter_);

    listen_ = new PanelButton(QString(), zivraTeal(), section);
    stack->addWidget(listen_);
    // Listening starts after the microphone has been asked for; the press only schedules the
    // decision, which reads the state as it is when it runs.
    connect(listen_, &PanelButton::clicked, this, [this] {
        QTimer::singleShot(0, this, [this] {
            if (tuner_.isDetecting()) {
                tuner_.stopDetecting();
            } else {
                tuner_.startDetecting();
            }
        });
    });
    return section;
}

QWidget* TunerPanel::buildReference() {
    auto* section = new QWidget(this);
    auto* stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    stack->addWidget(label(QStringLiteral("Reference tone"), systemFont(13, QFont::Medium),
                           palette().color(QPalette::WindowText), section));

    noteMenu_ = new QComboBox(section);
    noteMenu_->setAccessibleName(QStringLiteral("Note"));
    noteMenu_->addItems(tuner::Tuner::referenceNotes());
    noteMenu_->setMaxVisibleItems(12);
    stack->addWidget(noteMenu_);
    connect(noteMenu_, &QComboBox::activated, this,
            [this](int index) { tuner_.setReferenceNote(noteMenu_->itemText(index)); });

    reference_ = new PanelButton(QString(), zivraBlue(), section);
    stack->addWidget(reference_);
    connect(reference_, &PanelButton::clicked, this, [this] {
        if (tuner_.isReferencePlaying()) {
            tuner_.stopReference();
        } else {
            tuner_.toggleReference(tuner_.referenceNote());
        }
    });
    return section;
}

QString TunerPanel::centsText(qint64 cents) {
    return (cents > 0 ? QStringLiteral("+") : QString()) + QString::number(cents);
}

void TunerPanel::refreshReading() {
    note_->setText(tuner_.detectedNote());
    const qint64 cents = tuner_.detectedCents();
    cents_->setText(centsText(cents));
    setTextColor(cents_, cents == 0 ? zivraTeal() : palette().color(QPalette::WindowText));
    frequency_->setText(QString::asprintf("%.1f Hz", tuner_.detectedFrequency()));
    if (meter_->cents() != cents) {
        meter_->setCents(cents);
    }
}

void TunerPanel::refreshListening() {
    listen_->setTitle(tuner_.isDetecting() ? QStringLiteral("Stop listening")
                                           : QStringLiteral("Start listening"));
}

void TunerPanel::refreshReference() {
    reference_->setTitle(tuner_.isReferencePlaying() ? QStringLiteral("Stop reference")
                                                     : QStringLiteral("Play reference"));
    // A name that is no entry of the menu shows as no choice.
    noteMenu_->setCurrentIndex(noteMenu_->findText(tuner_.referenceNote()));
}

} // namespace zivra::app
