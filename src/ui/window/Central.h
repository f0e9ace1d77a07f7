#pragma once

#include "core/Core.h"
#include "ui/window/Window.h"

#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <vector>

class QScrollArea;
class QVBoxLayout;

Q_DECLARE_METATYPE(kv::portal::ProductPtr)

namespace kv::portal {

// The scrolling list below the menu bar: the message panel, the summary row, the family
// groups and the row of this program. It turns the core's notifications into rows and
// messages; notifications from core threads reach the interface thread through its signals.
class Window::Central : public QWidget, public Core::Listener {
    Q_OBJECT

public:
    Central(QWidget* parent, Core* core);
    ~Central() override;

    Core* core() const { return core_; }
    ICallbacks* callbacks() const { return callbacks_; }
    void setCallbacks(ICallbacks* callbacks) { callbacks_ = callbacks; }

    Message* message() const { return message_; }
    All* all() const { return all_; }

    // The group of a product kind, shown from now on; null for kinds without a group. The
    // first call creates all five groups, hidden.
    Group* findGroup(ProductCode kind);
    // The groups in list order; empty until the first product that needs one.
    std::vector<Group*> groups() const;

    // -1 unknown, 0 an update of this program was pending at the first evaluation, 1 none.
    int32_t portalUpdateState() const { return portalUpdateState_; }

    void productAdded(Core* core, ProductPtr product) override;
    void productRemoved(Core* core, ProductPtr product) override;
    void productProbed(Core* core, ProductPtr product) override;
    void syncStarted(Core* core) override;
    void syncFinished(Core* core, const std::string& message) override;

signals:
    void signalAddProduct(kv::portal::ProductPtr spProduct);
    void signalRemoveProduct(kv::portal::ProductPtr spProduct);

public slots:
    void slotAddProduct(kv::portal::ProductPtr spProduct);
    void slotRemoveProduct(kv::portal::ProductPtr spProduct);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void addProductRow(const ProductPtr& product);
    void tick();

    Core* const core_;
    ICallbacks* callbacks_ = nullptr;
    QScrollArea* scrollArea_;
    QWidget* list_;
    QVBoxLayout* listLayout_;
    QTimer timer_;
    Message* message_;
    All* all_;
    std::atomic<int32_t> hideCountdownMs_{-1};
    std::atomic<int32_t> portalUpdateState_{-1};
};

} // namespace kv::portal
