#pragma once

#include <QList>

namespace zivra::app {

// Where the bars of a waveform go in a view of a given size: computed apart from drawing so
// that the layout holds whatever paints it. A value: any thread, nothing thrown but
// std::bad_alloc.
struct WaveformGeometry {
    static constexpr double spacing = 3.0;
    static constexpr double minimumBarWidth = 2.0;
    static constexpr double inactiveHeight = 2.0;
    static constexpr double silentHeight = 3.0;

    double barWidth = 0;
    // Horizontal shift of the row: 0 while the bars fit, minus half the overflow otherwise.
    double offsetX = 0;
    QList<double> heights;

    // barCount must be at least 1. Samples beyond barCount are ignored, missing ones count as
    // silence; inactive bars are flat whatever the samples hold.
    static WaveformGeometry compute(const QList<float>& samples, bool isActive, int barCount,
                                    double width, double height);

    // Left edge of bar i in a view of the given width, the row centred and then shifted.
    double barX(int index, double width) const;
};

} // namespace zivra::app
