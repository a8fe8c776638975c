#pragma once

namespace kestrum {

// Cuts the segment down to the part inside [left, right] x [top, bottom] (Liang-Barsky). False when
// nothing of it is inside. Plot coordinates can lie far off the canvas (a red line pushed millions
// of units down by a small spread of values); the painter is only ever given points near the image.
// PointT: any point with x(), y() and a constructor from the two (Point, QPointF).
template <class PointT>
bool clipLine(PointT& from, PointT& to, double left, double top, double right, double bottom)
{
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    double enter = 0.0;
    double leave = 1.0;
    const auto edge = [&](double p, double q) {
        if (p == 0.0)
            return q >= 0.0;
        const double t = q / p;
        if (p < 0.0) {
            if (t > leave)
                return false;
            if (t > enter)
                enter = t;
        } else {
            if (t < enter)
                return false;
            if (t < leave)
                leave = t;
        }
        return true;
    };
    if (!edge(-dx, from.x() - left) || !edge(dx, right - from.x()) || !edge(-dy, from.y() - top) ||
        !edge(dy, bottom - from.y()))
        return false;
    const PointT start = from;
    if (leave < 1.0)
        to = PointT(start.x() + leave * dx, start.y() + leave * dy);
    if (enter > 0.0)
        from = PointT(start.x() + enter * dx, start.y() + enter * dy);
    return true;
}

} // namespace kestrum
