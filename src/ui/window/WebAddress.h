#pragma once

#include <QUrl>

#include <string>

namespace kv::portal {

// An address from the catalogue as one the desktop may hand to a web browser: http or https,
// with a host. Anything else (a file, a share, a mail with an attachment, a bare path) gives
// an empty URL.
QUrl webAddress(const std::string& text);

} // namespace kv::portal
