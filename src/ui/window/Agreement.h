#pragma once

#include "core/Product.h"

namespace kv::portal {

class Core;

// Shows the release's agreement before its package is downloaded and returns whether the
// download may go on. Accepting covers the product's kind until the program ends; a release
// without an agreement, or one whose text cannot be fetched, needs no answer.
bool askAgreement(Core* core, const ProductPtr& product);

} // namespace kv::portal
