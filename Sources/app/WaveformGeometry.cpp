#include "app/WaveformGeometry.h"

#include <algorithm>

namespace zivra::app {

WaveformGeometry WaveformGeometry::compute(const QList<float>& samples, bool isActive, int barCount,
                                           double width, double height) {
    WaveformGeometry geometry;
    const double n = barCount;
    geometry.barWidth = std::max((width - (n - 1) * spacing) / n, minimumBarWidth);
    geometry.offsetX = (width - ((n - 1) * spacing + geometry.barWidth * n)) * 0.5;
    geometry.heights.reserve(barCount);
    for (int i = 0; i < barCount; ++i) {
        if (!isActive) {
            geometry.heights.append(inactiveHeight);
            continue;
        }
        const double v = i < samples.size() ? double(samples[i]) : 0.0;
        geometry.heights.append(std::max(height * v * 0.85 + silentHeight, silentHeight));
    }
    return geometry;
}

double WaveformGeometry::barX(int index, double width) const {
    const double n = heights.size();
    const double rowWidth = (n - 1) * spacing + barWidth * n;
    // The row is centred in the view before the shift; a row that fits fills it exactly.
    return (width - rowWidth) * 0.5 + offsetX + index * (barWidth + spacing);
}

} // namespace zivra::app
