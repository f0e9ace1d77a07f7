#pragma once

#include "core/Product.h"
#include "ui/window/Window.h"

#include <QWidget>

#include <vector>

class QVBoxLayout;

namespace kv::portal {

// One device family in the list: a title strip that folds the group, then one row per
// device. Rows of devices that went away are hidden and reused when the device returns.
class Window::Group : public QWidget {
    Q_OBJECT

public:
    class Title;

    static constexpr int kCount = 5;
    static QString titleOf(int index);

    Group(Central* central, int index);

    int index() const { return index_; }
    Title* title() const { return title_; }
    bool isExpanded() const;
    // The rows in list order.
    std::vector<ProductBase*> rows() const;

    void addProduct(const ProductPtr& product);
    // Marks the row whose first product is this very object as gone and hides it.
    void removeProduct(const ProductPtr& product);
    // Shows or folds every row; a row of a device that went away stays hidden.
    void setExpanded(bool expanded);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ProductBase* findRow(const ProductPtr& product) const;

    Central* const central_;
    QVBoxLayout* const layout_;
    const int index_;
    Title* const title_;
};

} // namespace kv::portal
