#pragma once

#include "core/Product.h"
#include "ui/window/Window.h"

#include <QWidget>

namespace kv::portal {

// What a group holds for one device: a plain product row, or tabs with a row per firmware
// mode.
class Window::ProductBase : public QWidget {
    Q_OBJECT

public:
    ProductBase(Central* central, QWidget* parent);

    Central* central() const { return central_; }

    // The product of tab `index`; empty outside the tabs.
    virtual ProductPtr product(int index) const = 0;
    virtual ProductPtr currentProduct() const = 0;
    // The row of tab `index`; null outside the tabs.
    virtual Product* row(int index) const = 0;
    virtual Product* currentRow() const = 0;

    // Visible exactly while its device is present and its group is unfolded.
    void applyVisibility();

    // The device of this row went away.
    bool hidden = false;
    bool groupExpanded = true;

private:
    Central* const central_;
};

} // namespace kv::portal
