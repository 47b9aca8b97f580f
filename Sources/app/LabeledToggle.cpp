#include "app/LabeledToggle.h"

#include "app/Style.h"
#include "app/ToggleSwitch.h"

#include <QHBoxLayout>
#include <QLabel>

namespace zivra::app {

LabeledToggle::LabeledToggle(const QString& label, Binding<bool> isOn, QWidget* parent)
    : QWidget(parent), isOn_(std::move(isOn)), switch_(new ToggleSwitch(this)) {
    auto* text = new QLabel(label, this);
    text->setTextFormat(Qt::PlainText);
    text->setFont(systemFont(14, QFont::Medium));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(text, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(switch_, 0, Qt::AlignVCenter);
    connect(switch_, &ToggleSwitch::clicked, this, [this](bool checked) { isOn_.set(checked); });
    refresh();
}

void LabeledToggle::refresh() {
    switch_->setChecked(isOn_.get());
}

} // namespace zivra::app
