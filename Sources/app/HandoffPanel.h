#pragma once

#include "app/SidePanelFrame.h"

#include <functional>

class QLabel;

namespace zivra::handoff {
class HandoffServer;
}

namespace zivra::app {

class ElidedLabel;
class PanelButton;
class QRCodeView;

// The popover's Handoff panel: starts and stops the Handoff and shows the phone the QR code of
// the page's address, with the server's status and the address itself. It keeps nothing: it
// redraws from the server's properties whenever one changes. Main thread only; the server must
// outlive the panel, whose parent owns it. Throws nothing but std::bad_alloc.
class HandoffPanel : public SidePanelFrame {
    Q_OBJECT
public:
    static constexpr int qrPoints = 180;
    static constexpr int qrCornerRadius = 12;
    static constexpr int offContentHeight = 160;

    HandoffPanel(handoff::HandoffServer& server, std::function<void()> back,
                 QWidget* parent = nullptr);

    // What the panel shows: the running content (QR code, status, URL) or the off content
    // (the status alone).
    bool showsQRCode() const;
    QRCodeView* qrCode() const { return qrCode_; }
    // The status line of the content shown.
    QLabel* statusLabel() const;
    ElidedLabel* urlLabel() const { return url_; }
    PanelButton* mainButton() const { return button_; }

    void refresh();

private:
    handoff::HandoffServer& server_;
    QWidget* running_;
    QRCodeView* qrCode_;
    QLabel* runningStatus_;
    ElidedLabel* url_;
    QWidget* off_;
    QLabel* offStatus_;
    PanelButton* button_;
};

} // namespace zivra::app
