#pragma once

#include <QMainWindow>

class QCloseEvent;
class QPixmap;

namespace kv::portal {

class Core;

// The program's one top-level window: the menu bar over the scrolling list of products.
class Window : public QMainWindow {
    Q_OBJECT

public:
    // What the window asks of its owner. The pixmaps stay owned by the implementer and remain
    // valid until it is destroyed.
    class ICallbacks {
    public:
        virtual ~ICallbacks() = default;
        virtual QPixmap* productPixmap(const char* /*productCode*/) { return nullptr; }
        virtual QPixmap* themePixmap(const char* /*imageName*/, int /*width*/, int /*height*/) {
            return nullptr;
        }
        virtual const char* selectedUid() { return nullptr; }
        virtual void refresh() {}
    };

    class Central;
    class Message;
    class All;
    class Group;
    class ProductBase;
    class Tabs;
    class Product;

    // Creates the window on the first call and shows it; later calls show the same window.
    static Window* showMainWindow(QWidget* parent, Core* core, ICallbacks* callbacks);
    // The window while it exists, else null.
    static Window* instance();

    ~Window() override;

    Central* central() const { return central_; }

public slots:
    void slotSetWindowForeground();
    void menuFileRefresh();
    void menuFileResync();
    void menuFileOpenDownloads();
    void menuFileQuit();
    void menuHelpDocumentation();
    void menuHelpHistory();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Window(QWidget* parent, Core* core);

    void buildMenus();

    Central* central_ = nullptr;
};

} // namespace kv::portal
