#include "console/model/shared_list_reader.h"

#include <cstring>

#include "common/bytes.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

namespace ov::console {

SharedListReader::SharedListReader(std::string list_name)
    : m_name(std::move(list_name)),
      m_view(std::make_unique<platform::SharedMemory>()),
      m_mutex(std::make_unique<platform::NamedMutex>()) {}

SharedListReader::~SharedListReader() {
    Detach();
}

bool SharedListReader::Attach() {
    Detach();
    m_mutex->Create(m_name + "Mutex");
    return m_view->Open(m_name, kListViewSize, platform::SharedMemory::Access::ReadOnly);
}

void SharedListReader::Detach() {
    m_view->Close();
    m_mutex->Close();
}

bool SharedListReader::IsAttached() const {
    return m_view->IsOpen();
}

int SharedListReader::CountLocked() const {
    const int32_t count = int32_t(DecodeFixed32LE(m_view->data()));
    return count < 0 || size_t(count) > kMaxPublishedEntries ? 0 : int(count);
}

int SharedListReader::Count() {
    if (!IsAttached())
        return 0;
    platform::NamedMutexLock lock(*m_mutex);
    return CountLocked();
}

bool SharedListReader::Copy(size_t n, ComputerEntry* out) {
    if (!IsAttached())
        return false;
    platform::NamedMutexLock lock(*m_mutex);
    if (n > size_t(CountLocked()))
        return false;
    if (n > 0)
        std::memcpy(out, m_view->data() + 4, n * ComputerEntry::kSize);
    return true;
}

}  // namespace ov::console
