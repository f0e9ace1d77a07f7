#include "core/Core.h"

#include "core/ResultCodes.h"
#include "core/device/DeviceInterface.h"
#include "core/device/DeviceProbes.h"
#include "core/download/DownloadQueue.h"
#include "core/products/ProductList.h"
#include "core/statusfile/StatusFileWriter.h"
#include "core/sync/CatalogueSync.h"
#include "core/update/UpdateQueue.h"
#include "core/workers/DequeProcess.h"
#include "ru_rod.h"

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

// Enough that a few devices that never answer do not hold up the answers of the others.
constexpr std::size_t kProbeThreads = 8;

// An agreement is a page of text, read into memory and shown whole.
constexpr std::size_t kAgreementSizeLimit = 1024 * 1024;

} // namespace

Core::Core() {
    kvcurl::globalInit();
    products_ = std::make_unique<ProductList>(this);
    downloads_ = std::make_unique<DownloadQueue>(*this);
    statusFile_ = std::make_unique<StatusFileWriter>(
        *products_, [downloads = downloads_.get()] { return downloads->downloadsDir(); });
    updates_ = std::make_unique<UpdateQueue>(*this, *downloads_);
    sync_ = std::make_unique<CatalogueSync>(*this, *products_, *statusFile_);
    deviceProbes_ = std::make_unique<DeviceProbes>(kProbeThreads);
}

Core::~Core() {
    deviceProbes_.reset();
    sync_.reset();
    downloads_->stop();
    updates_->stop();
    kvcurl::globalCleanup();
    updates_.reset();
    statusFile_.reset();
    downloads_.reset();
    products_.reset();
    proxy_.reset();
}

void Core::setProxy(std::unique_ptr<IProxy> proxy) {
    proxy_ = std::move(proxy);
}

void Core::setIpcEnabled(bool enabled) {
    statusFile_->setEnabled(enabled);
}

void Core::addListener(Listener* listener) {
    products_->addListener(listener);
}

void Core::removeListener(Listener* listener) {
    products_->removeListener(listener);
}

void Core::notifyListeners(const std::function<void(Listener&)>& call) {
    products_->notify(call);
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
    const std::vector<ProductPtr> added = products_->add(code, name, address, version);
    // A device back from the reboot of its update, seen by discovery first.
    for (const ProductPtr& product : added) {
        updates_->deviceBack(product, product->version.get());
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
    const std::string serial = querySerial(product->address.get());
    const ProductPtr twin = probeDante(*product);
    products_->setProbed(product, serial, twin);
}

void Core::removeProduct(const std::string& name) {
    if (keepWhileQueued(name)) {
        return;
    }
    if (products_->remove(name)) {
        // Other programs read the status file as the list of products: one that left goes.
        writeIpcFile();
    }
}

// A refused name was never added: removing it would take the entry of whoever has the name.
void Core::removeDevice(const std::string& name) {
    if (deviceNameProblem(name) == nullptr) {
        removeProduct(name);
    }
}

// The worker removes a kept product once its job is done and no announcement is left. The
// queue locks make the check and the count one step against a worker taking the job off.
bool Core::keepWhileQueued(const std::string& name) {
    std::lock_guard<std::recursive_mutex> downloads(downloads_->lock());
    std::lock_guard<std::recursive_mutex> updates(updates_->lock());
    const auto queued = [this](const std::string& queuedName) {
        ProductPtr found = downloads_->find(queuedName);
        return found ? found : updates_->find(queuedName);
    };
    ProductPtr kept = queued(name);
    if (!kept) {
        const ProductPtr product = findProduct(name);
        const ProductPtr twin = product ? product->twin.get() : nullptr;
        if (twin && queued(twin->name)) {
            kept = product;
        }
    }
    if (!kept) {
        return false;
    }
    uint32_t count = kept->presenceCount;
    while (count > 0 && !kept->presenceCount.compare_exchange_weak(count, count - 1)) {
    }
    return true;
}

// A device that left the network while its job (or its twin's job) was queued goes now,
// unless another job still holds it.
void Core::removeIfGone(const ProductPtr& product) {
    ProductPtr owner = product;
    const std::string twinPrefix = kDanteTwinPrefix;
    if (product->isDante() && product->name.rfind(twinPrefix, 0) == 0) {
        owner = findProduct(product->name.substr(twinPrefix.size()));
    }
    if (owner && owner->presenceCount == 0) {
        removeProduct(owner->name);
    }
}

ProductPtr Core::findProduct(const std::string& name) {
    return products_->find(name);
}

void Core::forEachProduct(std::function<bool(const ProductPtr&)> callback) {
    products_->forEach(callback);
}

ProductPtr Core::findProductByCode(ProductCode code) {
    return products_->findByCode(code);
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
    if (isSettledStatus(status)) {
        writeIpcFile();
    }
}

bool Core::canUpdate(const ProductPtr& product) const {
    return product && programUpdates(product->code);
}

void Core::writeIpcFile() {
    statusFile_->write();
}

void Core::startSync() {
    sync_->start();
}

bool Core::usingLocalFile() const {
    return sync_->usingLocalFile();
}

void Core::setForceRefresh() {
    sync_->setForceRefresh();
}

std::string Core::publishFileUrl(bool local) {
    return sync_->publishFileUrl(local);
}

bool Core::createDownloadDirectories() {
    return downloads_->createDownloadDirectories();
}

std::string Core::downloadsDir() const {
    return downloads_->downloadsDir();
}

std::string Core::downloadPath(const ProductPtr& product, bool includeFile) const {
    return downloads_->downloadPath(product, includeFile);
}

bool Core::isDownloaded(const ProductPtr& product) {
    return downloads_->isDownloaded(product);
}

bool Core::verifyDownload(const ProductPtr& product) {
    return downloads_->verifyDownload(product);
}

void Core::requestDownload(const std::string& name) {
    const ProductPtr product = findProduct(name);
    if (!product) {
        return;
    }
    if (!createDownloadDirectories()) {
        product->errorCode = result::kUnverified;
        setStatus(product, DownloadError);
        return;
    }
    downloads_->request(product);
}

// A download in progress notices at its next progress report and stops.
void Core::cancel(const std::string& name) {
    if (downloads_->cancel(name) || updates_->cancel(name)) {
        setStatus(findProduct(name), Evaluate);
    }
}

std::string Core::downloadErrorText(int32_t errorCode) {
    if (errorCode == result::kUnverified) {
        return "Cannot verify downloaded file integrity";
    }
    if (errorCode < 1) {
        return "Unexpected Error";
    }
    return kvcurl::errorText(errorCode);
}

bool Core::fetchAgreement(const ProductPtr& product, std::string& text,
                          const kvcurl::ProgressFunction& progress) {
    const Product::CloudPtr release = product ? product->cloud.get() : nullptr;
    if (!release || release->agreementLink.empty()) {
        return false;
    }
    return kvcurl::fetch(release->agreementLink, text, progress, kAgreementSizeLimit) == 0;
}

bool Core::isDownloading() const {
    return downloads_->busy();
}

bool Core::isUpdating() const {
    return updates_->busy();
}

bool Core::hasJob(const std::string& name) const {
    return downloads_->find(name) || updates_->hasJob(name);
}

void Core::removeFirmwareProducts() {
    std::vector<std::string> names;
    products_->forEach([&](const ProductPtr& product) {
        if (product->isFirmware()) {
            names.push_back(product->name);
        }
        return true;
    });
    for (const std::string& name : names) {
        removeProduct(name);
    }
}

void Core::requestUpdate(const ProductPtr& product) {
    updates_->request(product);
}

void Core::countUpdates(int& firmware, int& software, int& total) {
    firmware = 0;
    software = 0;
    products_->forEach([&](const ProductPtr& product) {
        if (product->isUpdateAvailable()) {
            ++(product->isFirmware() ? firmware : software);
        }
        return true;
    });
    total = firmware + software;
}

bool Core::firmwareUpdateActive() const {
    return updates_->firmwareUpdateActive();
}

// Waited for in the order jobs move on (a download to its update, an update to its reboot),
// and checked again: a request from elsewhere may have started one meanwhile.
bool Core::waitUntilIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (!sync_->waitUntilIdle(deadline) || !downloads_->waitUntilIdle(deadline) ||
            !updates_->waitUntilIdle(deadline)) {
            return false;
        }
        if (!sync_->running() && !downloads_->working() && !updates_->working()) {
            return true;
        }
    }
}

} // namespace kv::portal
