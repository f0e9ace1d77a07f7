#include "core/Core.h"

#include "core/StatusFileText.h"
#include "core/device/DeviceInterface.h"
#include "core/device/DeviceProbes.h"
#include "core/download/PackageDigests.h"
#include "core/update/ReturnChecks.h"
#include "core/update/Updater.h"
#include "core/workers/DequeProcess.h"
#include "platform/FileOpening.h"
#include "platform/OwnReleases.h"
#include "platform/PathSeparator.h"
#include "ru_rod.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kv::portal {

namespace {

// The value of a TXT key: the rest of the first entry that starts with the key and holds it
// nowhere else, after the key and its "=". A key standing alone reads as empty.
std::string txtValue(const std::vector<std::string>& entries, const std::string& key) {
    for (const std::string& entry : entries) {
        if (entry.rfind(key) == 0) {
            return entry.size() > key.size() ? entry.substr(key.size() + 1) : std::string();
        }
    }
    return {};
}

ProductCode deviceCode(const std::string& vendor, const std::string& product) {
    if (vendor == "Kelmora Technologies") {
        if (product == "KELMORA+KORVEX") {
            return code::KORVEX_FIRMWARE;
        }
        if (product == "VESK_MkII") {
            return code::VORAVERI_FIRMWARE;
        }
        if (product == "VESK-III") {
            return code::VESK_III_FIRMWARE;
        }
        if (product == "Vesk") {
            return code::VESK_FIRMWARE;
        }
        if (product == "Pelra") {
            return code::PELRA_FIRMWARE;
        }
        return nullptr;
    }
    if (vendor == "Trennel" && product.size() >= 5 && product.rfind("RX 48") == 0) {
        return code::RX48_FIRMWARE;
    }
    return nullptr;
}

// Enough that a few devices that never answer do not hold up the answers of the others.
constexpr std::size_t kProbeThreads = 8;

bool statusIsSettled(uint32_t status) {
    return status == UpToDate || status == ReadyToDownload || status == ReadyToUpdate ||
           status == NoCloudInformation;
}

} // namespace

Core::Core() {
    kvcurl::globalInit();
    createDownloadDirectories();
    const std::string folder = downloadsDir();
    packageDigests_ = std::make_unique<PackageDigests>(
        folder.empty() ? std::string() : folder + platform::kPathSeparator + "package-digests.txt");
    downloadProcess_ = std::make_unique<DownloadProcess>(*this);
    updateProcess_ = std::make_unique<UpdateProcess>(*this);
    returnChecks_ = std::make_unique<ReturnChecks>();
    rebootProcess_ = std::make_unique<RebootProcess>(*this);
    deviceProbes_ = std::make_unique<DeviceProbes>(kProbeThreads);
}

Core::~Core() {
    deviceProbes_.reset();
    if (syncThread_ && syncThread_->joinable()) {
        syncThread_->join();
    }
    downloadProcess_->stop();
    updateProcess_->stop();
    // Last: the update worker hands it the devices it rebooted.
    rebootProcess_->stop();
    kvcurl::globalCleanup();
    rebootProcess_.reset();
    updateProcess_.reset();
    downloadProcess_.reset();
    products_.clear();
    proxy_.reset();
}

void Core::setProxy(std::unique_ptr<IProxy> proxy) {
    proxy_ = std::move(proxy);
}

void Core::addListener(Listener* listener) {
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void Core::removeListener(Listener* listener) {
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

// By index: a listener may register or unregister listeners while it is being called.
void Core::notifyListeners(const std::function<void(Listener&)>& call) {
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    for (size_t i = 0; i < listeners_.size(); ++i) {
        call(*listeners_[i]);
    }
}

bool Core::addDevice(const std::string& name, const std::string& address,
                     const std::vector<std::string>& txtEntries) {
    if (const char* problem = deviceNameProblem(name)) {
        if (refusedNames_.firstRefusal(name)) {
            KV_LOG(4, "Ignoring device %s: %s\n", printableName(name).c_str(), problem);
        }
        return false;
    }
    const std::string product = txtValue(txtEntries, "product");
    if (product.size() >= 8 && product.find("Emulator") != std::string::npos) {
        return false;
    }
    const ProductCode code = deviceCode(txtValue(txtEntries, "vendor"), product);
    if (code == nullptr) {
        return false;
    }
    Version version;
    version.parseVersion(txtValue(txtEntries, "version").c_str());
    const std::string generation = txtValue(txtEntries, "firmware_generation");
    if (!generation.empty()) {
        version.generation = decimalValue(generation.c_str());
    }
    return addProduct(code, name, address, version);
}

bool Core::addProduct(ProductCode code, const std::string& name, const std::string& address,
                      const Version& version) {
    if (proxy_ && proxy_->getInt("disable_this", 0) != 0) {
        return false;
    }
    // Listeners hear of new products only after the products lock is released: a listener
    // called from setStatus on another thread holds the listeners lock and looks products up.
    std::vector<ProductPtr> added;
    {
        std::lock_guard<std::recursive_mutex> lock(productsMutex_);
        addProductLocked(code, name, address, version, added);
    }
    for (const ProductPtr& product : added) {
        std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
        // A product removed meanwhile was never shown, so it is not announced either.
        if (findProduct(product->name) != product) {
            continue;
        }
        notifyListeners([&](Listener& listener) { listener.productAdded(this, product); });
        KV_LOG(6, "Product added: (%s, %s, %s, %s)\n", product->code, product->name.c_str(),
               product->address.get().c_str(), versionText(product->version.get()).c_str());
    }
    // A device back from the reboot of its update, seen by discovery first.
    for (const ProductPtr& product : added) {
        Updater::deviceBack(*this, product, product->version.get());
    }
    // Listed at once; the device's answers follow when they come.
    for (const ProductPtr& product : added) {
        if (!product->address.get().empty()) {
            deviceProbes_->post([this, product] { probeDevice(product); });
        }
    }
    return true;
}

void Core::probeDevice(const ProductPtr& product) {
    const std::string serial = DeviceInterface::querySerial(*this, product->address.get());
    const ProductPtr twin = DeviceInterface::probeDante(*this, *product);
    {
        std::lock_guard<std::recursive_mutex> lock(productsMutex_);
        // A device that left meanwhile stays gone.
        if (std::find(products_.begin(), products_.end(), product) == products_.end()) {
            return;
        }
        product->serial.set(serial);
        if (twin) {
            twin->serial.set(serial);
            product->running = !twin->running;
            product->twin.set(twin);
        }
    }
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    if (findProduct(product->name) == product) {
        notifyListeners([&](Listener& listener) { listener.productProbed(this, product); });
    }
}

void Core::addProductLocked(ProductCode code, const std::string& name, const std::string& address,
                            const Version& version, std::vector<ProductPtr>& added) {
    if (ProductPtr known = findProduct(name)) {
        ++known->presenceCount;
    } else {
        auto product = std::make_shared<Product>(code, name, address, version);
        products_.push_back(product);
        added.push_back(product);
    }
    if (code == code::KORVEX_FIRMWARE) {
        addProductLocked(code::KORVEX_REMOTE_CONTROLLER,
                         applicationName(code::KORVEX_REMOTE_CONTROLLER), {}, Version(), added);
    } else if (code == code::RX48_FIRMWARE) {
        addProductLocked(code::RX48_TOOLKIT_CONTROLLER,
                         applicationName(code::RX48_TOOLKIT_CONTROLLER), {}, Version(), added);
    }
}

void Core::removeProduct(const std::string& name) {
    if (keepWhileQueued(name)) {
        return;
    }
    ProductPtr removed;
    {
        std::lock_guard<std::recursive_mutex> lock(productsMutex_);
        const auto found = std::find_if(products_.begin(), products_.end(),
                                        [&](const ProductPtr& p) { return p->name == name; });
        if (found == products_.end()) {
            return;
        }
        removed = *found;
        products_.erase(found);
    }
    {
        std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
        notifyListeners([&](Listener& listener) { listener.productRemoved(this, removed); });
        KV_LOG(6, "Product removed: (%s)\n", name.c_str());
    }
    // Other programs read the status file as the list of products: one that left goes from it.
    writeIpcFile();
}

// A refused name was never added: removing it would take the entry of whoever has the name.
void Core::removeDevice(const std::string& name) {
    if (deviceNameProblem(name) == nullptr) {
        removeProduct(name);
    }
}

// A product with a queued job stays until its worker is done with it; the worker removes it
// then if no announcement is left. The queue locks make the check and the count one step
// against the worker taking the job off its queue.
bool Core::keepWhileQueued(const std::string& name) {
    std::lock_guard<std::recursive_mutex> downloads(downloadProcess_->lock());
    std::lock_guard<std::recursive_mutex> updates(updateProcess_->lock());
    ProductPtr queued = downloadProcess_->find(name);
    if (!queued) {
        queued = updateProcess_->find(name);
    }
    if (!queued) {
        ProductPtr product = findProduct(name);
        const ProductPtr twin = product ? product->twin.get() : nullptr;
        if (twin) {
            if (downloadProcess_->find(twin->name) || updateProcess_->find(twin->name)) {
                queued = product;
            }
        }
    }
    if (!queued) {
        return false;
    }
    uint32_t count = queued->presenceCount;
    while (count > 0 && !queued->presenceCount.compare_exchange_weak(count, count - 1)) {
    }
    return true;
}

// Called when a worker is done with a product: a device that left the network while its job
// (or its twin's job) was queued goes now, unless another job still holds it.
void Core::removeIfGone(const ProductPtr& product) {
    ProductPtr owner = product;
    const std::string twinPrefix = "dante_";
    if (product->isDante() && product->name.rfind(twinPrefix, 0) == 0) {
        owner = findProduct(product->name.substr(twinPrefix.size()));
    }
    if (owner && owner->presenceCount == 0) {
        removeProduct(owner->name);
    }
}

ProductPtr Core::findProduct(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    for (const ProductPtr& product : products_) {
        if (product->name == name) {
            return product;
        }
        if (ProductPtr twin = product->twin.get(); twin && twin->name == name) {
            return twin;
        }
    }
    return nullptr;
}

void Core::forEachProduct(std::function<bool(const ProductPtr&)> callback) {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    for (const ProductPtr& product : products_) {
        if (!callback(product)) {
            break;
        }
    }
}

ProductPtr Core::findProductByCode(ProductCode code) {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    for (const ProductPtr& product : products_) {
        if (product->code == code) {
            return product;
        }
    }
    return nullptr;
}

void Core::setStatus(const ProductPtr& product, uint32_t status) {
    if (!product) {
        return;
    }
    if (status == Evaluate) {
        if (!product->cloud.get()) {
            status = NoCloudInformation;
        } else if (!product->isUpdateAvailable()) {
            status = UpToDate;
        } else {
            status = isDownloaded(product) ? ReadyToUpdate : ReadyToDownload;
        }
    }
    if (product->status.exchange(status) == status) {
        return;
    }
    KV_LOG(6, "Product Status Changed %s(%s):%s\n", product->code, product->name.c_str(),
           product->statusText().c_str());
    notifyListeners(
        [&](Listener& listener) { listener.statusChanged(this, product->name.c_str()); });
    if (statusIsSettled(status)) {
        writeIpcFile();
    }
}

bool Core::canUpdate(const ProductPtr& product) const {
    if (product && product->code == code::KVPORTAL) {
        return platform::kInstallsOwnReleases;
    }
    return product && product->code != code::VESK_FIRMWARE && product->code != code::PELRA_FIRMWARE;
}

Core::IpcFileBatch::IpcFileBatch(Core& core) : core_(core) {
    std::lock_guard<std::mutex> lock(core_.ipcBatchMutex_);
    ++core_.ipcBatches_;
}

Core::IpcFileBatch::~IpcFileBatch() {
    bool owed = false;
    {
        std::lock_guard<std::mutex> lock(core_.ipcBatchMutex_);
        owed = --core_.ipcBatches_ == 0 && std::exchange(core_.ipcPending_, false);
    }
    if (owed) {
        core_.writeIpcFile();
    }
}

void Core::writeIpcFile() {
    if (!ipcEnabled_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(ipcBatchMutex_);
        if (ipcBatches_ > 0) {
            ipcPending_ = true;
            return;
        }
    }
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    const std::string content = statusFileText(products_);
    // Written under the products lock, so that two threads never mix their files.
    platform::replaceWhole(downloadsDir() + platform::kPathSeparator + "kvportal.ipc", content);
}

std::string Core::downloadsDir() const {
    return downloadsDir_.get();
}

std::string Core::downloadPath(const ProductPtr& product, bool includeFile) const {
    return product ? product->downloadPath(downloadsDir(), includeFile) : std::string();
}

} // namespace kv::portal
