#include "ui/window/ProductBase.h"

namespace kv::portal {

Window::ProductBase::ProductBase(Central* central, QWidget* parent)
    : QWidget(parent), central_(central) {}

void Window::ProductBase::applyVisibility() {
    setVisible(!hidden && groupExpanded);
}

} // namespace kv::portal
