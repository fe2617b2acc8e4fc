#include "secure_wipe.h"

#include <openssl/crypto.h>

namespace virellock::dataops {

void secureWipe(void* data, std::size_t size)
{
    Q_ASSERT(data || size == 0);
    if (size > 0)
        OPENSSL_cleanse(data, size);
}

} // namespace virellock::dataops
