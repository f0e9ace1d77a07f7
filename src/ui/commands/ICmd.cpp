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
    // By name, like every call from a core thread to the interface thread.
    QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
}

} // namespace kv::portal
