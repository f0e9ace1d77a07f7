#include "core/download/DownloadQueue.h"
#include "core/update/UpdateQueue.h"
#include "core/workers/DequeProcess.h"

namespace kv::portal {

void Core::DownloadProcess::process(const ProductPtr& product) {
    downloads_.process(product);
}

void Core::DownloadProcess::done(const ProductPtr& product) {
    core_.removeIfGone(product);
}

void Core::UpdateProcess::process(const ProductPtr& product) {
    updates_.process(product);
}

void Core::UpdateProcess::done(const ProductPtr& product) {
    core_.removeIfGone(product);
}

void Core::RebootProcess::process(const ProductPtr& product) {
    updates_.awaitReboot(product);
}

} // namespace kv::portal
