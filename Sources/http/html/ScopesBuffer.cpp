#include "http/html/ScopesBuffer.h"

#include "http/Process.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace vuzozar {

namespace {

struct BufferMap {
    std::mutex lock;
    // A node-based map: an entry stays where it is while other threads add
    // or remove theirs, so its owner reads and writes it without the lock.
    std::map<uint64_t, std::string> entries;
};

// Never destroyed: connection threads may still end after static
// destruction has begun.
BufferMap& bufferMap() {
    static auto* map = new BufferMap;
    return *map;
}

class ThreadEntry {
public:
    ThreadEntry() : id_(Process::tid()) {
        BufferMap& map = bufferMap();
        std::lock_guard lock(map.lock);
        text_ = &map.entries[id_];
    }
    ~ThreadEntry() {
        BufferMap& map = bufferMap();
        std::lock_guard lock(map.lock);
        map.entries.erase(id_);
    }
    ThreadEntry(const ThreadEntry&) = delete;
    ThreadEntry& operator=(const ThreadEntry&) = delete;

    std::string& text() { return *text_; }

private:
    uint64_t id_;
    std::string* text_;
};

} // namespace

std::string& scopesBuffer() {
    thread_local ThreadEntry entry;
    return entry.text();
}

} // namespace vuzozar
