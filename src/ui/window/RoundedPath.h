#pragma once

#include <QPainterPath>
#include <QRectF>

namespace kv::portal {

// A rectangle whose top and bottom corners are rounded or square as asked.
QPainterPath roundedPath(const QRectF& rect, qreal radius, bool roundTop, bool roundBottom);

} // namespace kv::portal
