#include "secure_wipe.h"

#include <openssl/crypto.h>

namespace virellock::dataops {

namespace {

// The block behind a QByteArray's or QString's data pointer, from its start to its end:
// content that was removed from either end may still lie in the unused room.
template <typename DataPointer> void wipeBlock(const DataPointer& pointer)
{
    const qsizetype capacity = pointer.constAllocatedCapacity();
    if (capacity == 0) // no block of its own: null, a literal or raw data
        return;
    const auto* start = pointer.data() - pointer.freeSpaceAtBegin();
    secureWipe(const_cast<void*>(static_cast<const void*>(start)),
               static_cast<std::size_t>(capacity) * sizeof(*start));
}

template <typename Array> bool wipeSole(Array& array)
{
    if (!array.isDetached())
        return false;
    wipeBlock(array.data_ptr());
    return true;
}

} // namespace

void secureWipe(void* data, std::size_t size)
{
    Q_ASSERT(data || size == 0);
    if (size > 0)
        OPENSSL_cleanse(data, size);
}

bool wipe(QByteArray& bytes)
{
    return wipeSole(bytes);
}

bool wipe(QString& text)
{
    return wipeSole(text);
}

void wipeForAllHolders(const QString& text)
{
    wipeBlock(text.data_ptr());
}

} // namespace virellock::dataops
