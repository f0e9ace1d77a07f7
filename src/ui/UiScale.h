#pragma once

namespace kv::portal {

// The factor every pixel size of the interface is multiplied by: the desktop's logical
// horizontal dpi divided by 96. It stays 1.0 until start-up sets it.
float uiScale();
void setUiScale(float scale);

// A logical length at the current factor, truncated as the layout code expects.
int scaled(int logicalPixels);

} // namespace kv::portal
