#pragma once

#include "core/Core.h"
#include "ui/window/Window.h"

#include <QString>
#include <QWidget>

class QLabel;

namespace kv::portal {

// The summary row: how many firmware and software products need an update, with a link
// that updates them all. Hidden while nothing needs an update.
class Window::All : public QWidget, public Core::Listener {
    Q_OBJECT

public:
    explicit All(Central* central);
    ~All() override;

    void productAdded(Core* core, ProductPtr product) override;
    void productRemoved(Core* core, ProductPtr product) override;
    void statusChanged(Core* core, const char* productName) override;

signals:
    void signalUpdateUI();

public slots:
    void slotLinkClicked(const QString& link);
    void slotUpdateUI();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Central* const central_;
    // Kept apart from the list: the list is gone by the time its children are destroyed.
    Core* const core_;
    QLabel* const text_;
    QLabel* const link_;
};

} // namespace kv::portal
