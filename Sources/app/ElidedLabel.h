#pragma once

#include <QString>
#include <QWidget>

namespace zivra::app {

// One line of text that, when it is wider than the label, is shortened in the middle with an
// ellipsis, so that both ends stay readable. Main thread only; the parent owns it. Throws
// nothing but std::bad_alloc.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    // The text as drawn at the label's present width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

} // namespace zivra::app
