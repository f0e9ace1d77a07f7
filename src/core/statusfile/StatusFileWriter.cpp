#include "core/statusfile/StatusFileWriter.h"

#include "core/products/ProductList.h"
#include "core/statusfile/StatusFileText.h"
#include "platform/FileOpening.h"
#include "platform/PathSeparator.h"

#include <utility>

namespace kv::portal {

StatusFileWriter::StatusFileWriter(const ProductList& products, std::function<std::string()> folder)
    : products_(products), folder_(std::move(folder)) {}

StatusFileWriter::Batch::Batch(StatusFileWriter& writer) : writer_(writer) {
    std::lock_guard<std::mutex> lock(writer_.batchMutex_);
    ++writer_.batches_;
}

StatusFileWriter::Batch::~Batch() {
    bool owed = false;
    {
        std::lock_guard<std::mutex> lock(writer_.batchMutex_);
        owed = --writer_.batches_ == 0 && std::exchange(writer_.pending_, false);
    }
    if (owed) {
        writer_.write();
    }
}

void StatusFileWriter::write() {
    if (!enabled_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(batchMutex_);
        if (batches_ > 0) {
            pending_ = true;
            return;
        }
    }
    // Written with the list held still, so that two threads never mix their files.
    products_.whileLocked([&](const std::vector<ProductPtr>& products) {
        platform::replaceWhole(folder_() + platform::kPathSeparator + "kvportal.ipc",
                               statusFileText(products));
    });
}

} // namespace kv::portal
