#pragma once

#include "core/Core.h"
#include "core/Guarded.h"
#include "ui/window/ProductBase.h"

#include <QString>

#include <string>

class QLabel;
class QProgressBar;

namespace kv::portal {

// One product: logo, name, installed and released version, status, progress and the links
// of the actions that apply to its status.
class Window::Product : public ProductBase, public Core::Listener {
    Q_OBJECT

public:
    static constexpr int kHeight = 110;
    static constexpr int kHeightWithNote = 131;

    // Rows inside tabs have square top corners; the tab header sits on them.
    Product(Central* central, ProductPtr product, QWidget* parent, bool roundTop = true);
    ~Product() override;

    void setProduct(ProductPtr product);

    ProductPtr product(int index) const override;
    ProductPtr currentProduct() const override;
    Product* row(int index) const override;
    Product* currentRow() const override;

    // The text of the status line for the product's current status.
    QString statusText() const;
    // Whether the action link currently offers "Update", which "update all" follows.
    bool offersUpdate() const;

    void downloadProgress(Core* core, const char* productName, const char* fileName,
                          const float& fraction) override;
    void updateProgress(Core* core, const char* productName, int state, const char* text,
                        int percent) override;
    void statusChanged(Core* core, const char* productName) override;

signals:
    void signalProgressValue(int value);
    void signalUpdateUI();

public slots:
    void slotLinkClicked(const QString& link);
    void slotProgressValue(int value);
    void slotUpdateUI();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool isMine(const char* productName) const;
    bool updatable() const;
    void setLink(QLabel* label, bool shown, const QString& html = QString());
    void layoutLinks();
    void startUpdate(const ProductPtr& product);
    bool switchModeAsked(const ProductPtr& product);
    void restartProgram();

    // Kept apart from the list: the list is gone by the time its rows are destroyed.
    Core* const core_;
    ProductPtr product_;
    // The product's name for listener calls from core threads.
    Guarded<std::string> name_;
    QProgressBar* const progress_;
    QLabel* const releaseNotesLink_;
    QLabel* const downloadLink_;
    QLabel* const actionLink_;
    const bool roundTop_;
};

} // namespace kv::portal
