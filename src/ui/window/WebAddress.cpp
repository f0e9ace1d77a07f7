#include "ui/window/WebAddress.h"

namespace kv::portal {

QUrl webAddress(const std::string& text) {
    // Tolerant, as addresses with spaces are published.
    const QUrl url(QString::fromStdString(text), QUrl::TolerantMode);
    const QString scheme = url.scheme();
    const bool web = scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
                     scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    return url.isValid() && web && !url.host().isEmpty() ? url : QUrl();
}

} // namespace kv::portal
