#pragma once

#include "core/Product.h"
#include "kvcurl/kvcurl.h"

#include <cstdint>
#include <string>

namespace kv::portal {

class Core;

// Package downloads and their verification, run for the core on its download worker.
class Downloads {
public:
    // The download step for the worker's front product and what follows it.
    static void process(Core& core, const ProductPtr& product);
    // 0 when the package is in place, -1 without product or release, else libcurl's code.
    // Unless told otherwise, an unfinished file of the same release is continued; `resumed`
    // tells whether it was.
    static int32_t downloadProduct(Core& core, const std::string& name, bool mayResume = true,
                                   bool* resumed = nullptr);

    static bool isDownloaded(Core& core, const ProductPtr& product);
    static bool verifyDownload(Core& core, const ProductPtr& product);
    // 32 lower-case hexadecimal digits, or "?" when the file cannot be read.
    static std::string md5File(const std::string& path);

private:
    // Aborts the transfer once the product is no longer the download worker's front entry.
    static kvcurl::ProgressFunction progressFunction(Core& core, const ProductPtr& product,
                                                     const std::string& fileName);
};

} // namespace kv::portal
