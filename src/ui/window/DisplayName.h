#pragma once

#include "core/Product.h"

#include <QString>

namespace kv::portal {

// A product's name as the user sees it: a Dante twin goes by its device's name.
QString displayName(const Product& product);

} // namespace kv::portal
