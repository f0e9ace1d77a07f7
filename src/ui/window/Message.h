#pragma once

#include "ui/window/Window.h"

#include <QString>
#include <QWidget>

class QLabel;

namespace kv::portal {

// The strip at the top of the list that tells what the program is doing or what went wrong,
// with one link on its right. Any thread changes it through `signalShow`.
class Window::Message : public QWidget {
    Q_OBJECT

public:
    explicit Message(Central* central);

signals:
    void signalShow(bool show, const QString& text, const QString& link);

public slots:
    void slotLinkClicked(const QString& link);
    void slotShow(bool show, const QString& text, const QString& link);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void keepTextBlack();

    Central* const central_;
    QLabel* const text_;
    QLabel* const link_;
};

} // namespace kv::portal
