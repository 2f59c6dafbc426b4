#pragma once

#include <memory>
#include <string>

namespace VELKOR {

class SharedMemoryManager;

// A block of bytes shared between processes of one machine under a name,
// guarded by a process-shared mutex of the same name. The first process to
// open a name creates both objects; later ones attach to them.
//
// On POSIX the block is the shared-memory object "/SharedMemoryObject_" + name
// and the mutex lives in its own small object "/MutexObject_" + name, which
// begins with a robust, process-shared pthread_mutex_t. A mutex whose owner
// died while holding it is detected as abandoned: the transfer copies nothing,
// the mutex is made consistent again for the other users, and this object is
// closed (it must be opened again). Both objects persist until unlink removes
// them, since POSIX keeps no count of the processes that use a name.
class MemoryMap {
public:
    MemoryMap();
    ~MemoryMap();

    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;

    // Attach to or create the mutex and a block of size bytes; true when both
    // are usable. Fails for a block that exists with fewer bytes than size.
    bool open(const char* name, unsigned int size);
    // Copy min(length, size) bytes into / out of the block under the mutex.
    // False when nothing was copied (not open, wait failed, or abandoned).
    bool set(const void* data, unsigned int length);
    bool get(void* data, unsigned int length);
    // Release the mutex object and the mapping; the size stays.
    void close();

    // Remove both named objects of name; users that still have them mapped
    // keep working, later opens create them afresh.
    static void unlink(const char* name);

private:
    std::unique_ptr<SharedMemoryManager> manager_;
};

} // namespace VELKOR
