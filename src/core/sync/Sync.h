#pragma once

namespace kv::portal {

class Core;

// The catalogue sync; runs on the core's sync thread.
class Sync {
public:
    static bool runSync(Core& core);
};

} // namespace kv::portal
