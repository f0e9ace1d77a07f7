#include "ui/window/DialogRunner.h"

#include <QDialog>

#include <utility>

namespace kv::portal {

namespace {

DialogAnswerer& answerer() {
    static DialogAnswerer instance;
    return instance;
}

} // namespace

void setDialogAnswerer(DialogAnswerer dialogAnswerer) {
    answerer() = std::move(dialogAnswerer);
}

int runDialog(QDialog& dialog) {
    if (answerer()) {
        return answerer()(dialog);
    }
    return dialog.exec();
}

} // namespace kv::portal
