#include "app/PresetsPanel.h"

#include "app/PanelPieces.h"
#include "app/Style.h"
#include "app/Symbols.h"
#include "audio/ZivraAudio.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace zivra::app {
namespace {

// Tall enough for several rows; more scroll instead of stretching the popover.
constexpr int maximumListHeight = 240;

class PresetList : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const QWidget* content = widget();
        const int height = content ? content->sizeHint().height() + 2 * frameWidth() : 0;
        return {QScrollArea::sizeHint().width(), std::min(height, maximumListHeight)};
    }
    // A scroll area asks for room for its scroll bars by default; the list needs its rows only.
    QSize minimumSizeHint() const override { return sizeHint(); }
};

} // namespace

PresetsPanel::PresetsPanel(audio::ZivraAudio& audio, std::function<void()> back, QWidget* parent)
    : SidePanelFrame(12, parent), audio_(audio), name_(new QLineEdit(this)),
      save_(new QPushButton(QStringLiteral("Save"), this)),
      placeholder_(new QLabel(QStringLiteral("No presets yet."), this)),
      scroll_(new PresetList(this)), list_(nullptr) {
    column()->addWidget(panelHeader(QStringLiteral("Presets"), std::move(back), this));

    auto* entry = new QHBoxLayout;
    entry->setSpacing(8);
    name_->setPlaceholderText(QStringLiteral("Preset name"));
    entry->addWidget(name_, 1);
    entry->addWidget(save_);
    column()->addLayout(entry);

    placeholder_->setFont(systemFont(10));
    setTextColor(placeholder_, secondaryTextColor());
    column()->addWidget(placeholder_);

    auto* content = new QWidget;
    list_ = new QVBoxLayout(content);
    list_->setContentsMargins(0, 0, 0, 0);
    list_->setSpacing(0);
    list_->setAlignment(Qt::AlignTop);
    scroll_->setWidget(content);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet(transparentScrollAreaStyle());
    column()->addWidget(scroll_);
    column()->addStretch(1);

    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { audio_.setNewPresetName(text); });
    connect(save_, &QPushButton::clicked, this, [this] {
        const QString name = audio_.newPresetName();
        audio_.savePreset(name);
        audio_.setNewPresetName(QString());
    });
    connect(&audio_, &audio::ZivraAudio::newPresetNameChanged, this, &PresetsPanel::refresh);
    connect(&audio_, &audio::ZivraAudio::presetsChanged, this, &PresetsPanel::rebuildRows);
    connect(&audio_, &audio::ZivraAudio::selectedPresetIDChanged, this, &PresetsPanel::rebuildRows);
    rebuildRows();
}

void PresetsPanel::refresh() {
    if (name_->text() != audio_.newPresetName()) {
        name_->setText(audio_.newPresetName());
    }
    save_->setEnabled(!audio_.newPresetName().isEmpty());
}

void PresetsPanel::rebuildRows() {
    // Later, not now: the click that changed the list may still be running in one of the rows.
    for (QWidget* row : std::as_const(rows_)) {
        list_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rows_.clear();
    const QList<audio::SongPreset>& presets = audio_.presets();
    placeholder_->setVisible(presets.isEmpty());
    scroll_->setVisible(!presets.isEmpty());
    const std::optional<QUuid> selected = audio_.selectedPresetID();
    QColor highlight = palette().color(QPalette::Highlight);
    highlight.setAlphaF(0.15f);
    for (const audio::SongPreset& preset : presets) {
        auto* row = new QWidget(list_->parentWidget());
        row->setObjectName(QStringLiteral("presetRow"));
        row->setAttribute(Qt::WA_StyledBackground);
        const bool isSelected = selected && *selected == preset.id;
        row->setStyleSheet(
            QStringLiteral("#presetRow { background: %1; border-radius: 6px; }")
                .arg(isSelected ? highlight.name(QColor::HexArgb) : QStringLiteral("transparent")));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 6, 0, 6);
        auto* load = new QPushButton(verbatim(preset.name), row);
        load->setObjectName(QStringLiteral("loadPreset"));
        load->setFlat(true);
        load->setStyleSheet(QStringLiteral("QPushButton { border: none; text-align: left;"
                                           " padding: 0px 4px; }"));
        load->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto* remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("deletePreset"));
        remove->setAutoRaise(true);
        remove->setIcon(QIcon(symbolPixmap(QStringLiteral("trash"), 14, secondaryTextColor())));
        line->addWidget(load, 1);
        line->addWidget(remove);
        // Buttons act on a copy: the list they came from changes under them.
        connect(load, &QPushButton::clicked, this, [this, preset] { audio_.loadPreset(preset); });
        connect(remove, &QToolButton::clicked, this,
                [this, preset] { audio_.deletePreset(preset); });
        list_->addWidget(row);
        row->show();
        rows_.append(row);
    }
    refresh();
    // The list's height follows its rows; the scroll area does not report that by itself.
    scroll_->updateGeometry();
    updateGeometry();
}

} // namespace zivra::app
