#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace kv::portal {

class ProductList;

// Writes "kvportal.ipc", the product list for other programs, once it is enabled.
class StatusFileWriter {
public:
    // `folder` gives the folder the file goes to at the time of writing.
    StatusFileWriter(const ProductList& products, std::function<std::string()> folder);
    StatusFileWriter(const StatusFileWriter&) = delete;
    StatusFileWriter& operator=(const StatusFileWriter&) = delete;

    void setEnabled(bool enabled) { enabled_ = enabled; }
    void write();

    // Holds writes back while a pass settles many products, then writes the file once:
    // rewriting it per product makes a large sync quadratic.
    class Batch {
    public:
        explicit Batch(StatusFileWriter& writer);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        StatusFileWriter& writer_;
    };

private:
    const ProductList& products_;
    const std::function<std::string()> folder_;
    std::atomic<bool> enabled_{false};
    // Guards the open batches and the write they owe, so that a write held back by a batch is
    // never lost to that batch closing at the same moment.
    std::mutex batchMutex_;
    int batches_ = 0;
    bool pending_ = false;
};

} // namespace kv::portal
