#pragma once

#include "ui/window/ProductBase.h"

#include <QString>

#include <utility>
#include <vector>

namespace kv::portal {

// A device that runs its firmware in one of two modes: one tab per mode, each with its row.
class Window::Tabs : public ProductBase {
    Q_OBJECT

public:
    static constexpr int kHeaderHeight = 24;
    static constexpr int kTabWidth = 100;

    Tabs(Central* central, QWidget* parent);

    void addTab(const QString& title, const ProductPtr& product);
    void setCurrentTab(int index);
    int currentTab() const { return current_; }
    int count() const { return static_cast<int>(tabs_.size()); }
    QString tabTitle(int index) const;

    // Header plus the current row, which grows while it shows a notice.
    void fitHeight();

    ProductPtr product(int index) const override;
    ProductPtr currentProduct() const override;
    Product* row(int index) const override;
    Product* currentRow() const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<std::pair<QString, Product*>> tabs_;
    int current_ = 0;
};

} // namespace kv::portal
