#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

class QPushButton;

namespace zivra::app {

// A row of joined segments of which at most one is selected; a value that none of the segments
// stands for shows no selected segment. Main thread only; the parent owns it, and the getters
// lend children it owns. Throws nothing but std::bad_alloc.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    SegmentedControl(const QStringList& titles, const QColor& tint, QWidget* parent = nullptr);

    // -1 selects no segment.
    void setSelectedIndex(int index);
    int selectedIndex() const { return selected_; }
    QPushButton* segment(int index) const { return segments_[index]; }

signals:
    // The user chose a segment.
    void segmentChosen(int index);

private:
    QList<QPushButton*> segments_;
    int selected_ = -1;
};

} // namespace zivra::app
