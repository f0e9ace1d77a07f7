#include "platform/SharedMemoryAttachments.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace kv::platform {

int sharedMemoryAttachments(const std::string& nativeKey) {
    // Qt 5 turns the native key, a file name, into a System V key with project id 'Q'.
    const key_t key = ::ftok(nativeKey.c_str(), 'Q');
    if (key == -1) {
        return -1;
    }
    const int id = ::shmget(key, 0, 0);
    if (id == -1) {
        return -1;
    }
    shmid_ds status{};
    if (::shmctl(id, IPC_STAT, &status) == -1) {
        return -1;
    }
    return static_cast<int>(status.shm_nattch);
}

} // namespace kv::platform
