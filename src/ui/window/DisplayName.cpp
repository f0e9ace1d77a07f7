#include "ui/window/DisplayName.h"

namespace kv::portal {

QString displayName(const Product& product) {
    QString name = QString::fromStdString(product.name);
    const QString twinPrefix = QString::fromLatin1(kDanteTwinPrefix);
    if (name.startsWith(twinPrefix)) {
        name.remove(0, twinPrefix.size());
    }
    return name;
}

} // namespace kv::portal
