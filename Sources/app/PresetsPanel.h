#pragma once

#include "app/SidePanelFrame.h"

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::app {

// The side panel in which the user saves the current settings under a name, applies a saved
// preset with a click and deletes one. It keeps nothing itself: the list, the highlighted
// preset and even the half-typed name live in the engine. Main thread only; the engine must
// outlive the panel, which its parent owns; it keeps back, and the getters lend children it
// owns (rows() until the next rebuild). Throws nothing but std::bad_alloc.
class PresetsPanel : public SidePanelFrame {
    Q_OBJECT
public:
    PresetsPanel(audio::ZivraAudio& audio, std::function<void()> back, QWidget* parent = nullptr);

    void refresh();

    QLineEdit* nameField() const { return name_; }
    QPushButton* saveButton() const { return save_; }
    QLabel* placeholder() const { return placeholder_; }
    // One row per preset, in list order; each holds the name button and the delete button.
    QList<QWidget*> rows() const { return rows_; }

private:
    void rebuildRows();

    audio::ZivraAudio& audio_;
    QLineEdit* name_;
    QPushButton* save_;
    QLabel* placeholder_;
    QScrollArea* scroll_;
    QVBoxLayout* list_;
    QList<QWidget*> rows_;
};

} // namespace zivra::app
