#pragma once

#include <cstddef>
#include <string>

namespace kv::portal {

class Core;

// The catalogue sync; runs on the core's sync thread, which alone touches the core's
// publish file, its source flag and the refresh request while it runs.
class Sync {
public:
    // A real publish file is well under 10 MB; a larger one, from the server or on disk, is
    // refused before it is read.
    static constexpr std::size_t kPublishFileSizeLimit = 16 * 1024 * 1024;

    // True when products were matched against a publish file, false when none was available.
    static bool runSync(Core& core);

    // The local copy in the downloads folder: read into a new publish file, or replaced by the
    // text fetched, as it came.
    static bool loadLocalPublishFile(Core& core);
    static bool savePublishFile(Core& core, const std::string& text);
    // Saves the fetched text unless the copy holds it already: the same catalogue comes at
    // every refresh, and writing it costs more than the rest of the sync.
    static void saveFetchedPublishFile(Core& core, const std::string& text);

private:
    // Serves one request before matching; true when requests came in meanwhile and the sync
    // must start over.
    static bool requestsRemain(Core& core);
    // Ends the sync, unless requests came in after its last start: it then starts over for them.
    static bool syncEnds(Core& core);
};

} // namespace kv::portal
