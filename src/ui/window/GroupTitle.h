#pragma once

#include "ui/window/Group.h"

#include <QString>
#include <QWidget>

namespace kv::portal {

// The group's title with its fold arrow; a left click folds or unfolds the group.
class Window::Group::Title : public QWidget {
    Q_OBJECT

public:
    Title(Group* group, Central* central, const QString& text);

    const QString& text() const { return text_; }
    bool isExpanded() const { return expanded_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Group* const group_;
    Central* const central_;
    const QString text_;
    bool expanded_ = true;
};

} // namespace kv::portal
