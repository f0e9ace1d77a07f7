#include "ui/window/RoundedPath.h"

namespace kv::portal {

QPainterPath roundedPath(const QRectF& rect, qreal radius, bool roundTop, bool roundBottom) {
    const qreal diameter = 2 * radius;
    const qreal left = rect.left();
    const qreal top = rect.top();
    const qreal right = rect.right() + 1;
    const qreal bottom = rect.bottom() + 1;
    QPainterPath path;
    if (roundTop) {
        path.moveTo(left, top + radius);
        path.arcTo(QRectF(left, top, diameter, diameter), 180, -90);
        path.lineTo(right - radius, top);
        path.arcTo(QRectF(right - diameter, top, diameter, diameter), 90, -90);
    } else {
        path.moveTo(left, top);
        path.lineTo(right, top);
    }
    if (roundBottom) {
        path.lineTo(right, bottom - radius);
        path.arcTo(QRectF(right - diameter, bottom - diameter, diameter, diameter), 0, -90);
        path.lineTo(left + radius, bottom);
        path.arcTo(QRectF(left, bottom - diameter, diameter, diameter), 270, -90);
    } else {
        path.lineTo(right, bottom);
        path.lineTo(left, bottom);
    }
    path.closeSubpath();
    return path;
}

} // namespace kv::portal
