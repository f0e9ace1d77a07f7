#include "core/download/PackageName.h"

namespace kv::portal {

bool isSafePackageName(const std::string& fileName) {
    return !fileName.empty() && fileName != "." &&
           fileName.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
           fileName.find("..") == std::string::npos;
}

} // namespace kv::portal
