#include "common/published_list.h"

#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

namespace ov {

bool ReadPublishedList(std::vector<ComputerEntry>* entries, const std::string& view_name) {
    platform::SharedMemory view;
    if (!view.Open(view_name, kListViewSize, platform::SharedMemory::Access::ReadOnly))
        return false;
    platform::NamedMutex mutex;
    mutex.Create(view_name + "Mutex");
    platform::NamedMutexLock lock(mutex);
    int32_t count = int32_t(DecodeFixed32LE(view.data()));
    entries->clear();
    if (count < 0 || size_t(count) > kMaxPublishedEntries)
        return true;
    entries->resize(size_t(count));
    for (int32_t i = 0; i < count; ++i)
        std::memcpy((*entries)[size_t(i)].bytes, view.data() + 4 + size_t(i) * ComputerEntry::kSize,
                    ComputerEntry::kSize);
    return true;
}

}  // namespace ov
