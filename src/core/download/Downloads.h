#pragma once

#include "core/Product.h"

#include <string>

namespace kv::portal {

class Core;

// Package downloads and their verification, run for the core on its download worker.
class Downloads {
public:
    // The download step for the worker's front product and what follows it.
    static void process(Core& core, const ProductPtr& product);

    static bool isDownloaded(Core& core, const ProductPtr& product);
    static bool verifyDownload(Core& core, const ProductPtr& product);
    // 32 lower-case hexadecimal digits, or "?" when the file cannot be read.
    static std::string md5File(const std::string& path);
};

} // namespace kv::portal
