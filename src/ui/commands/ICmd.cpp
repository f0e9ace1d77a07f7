#include "ui/commands/ICmd.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace kv::portal {

ICmd::ICmd(Core* core_) : core(core_) {
    core->addListener(this);
}

ICmd::~ICmd() {
    core->removeListener(this);
}

void ICmd::quitApplication() {
    // The status settles on core threads; quit belongs to the interface thread's loop.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

} // namespace kv::portal
