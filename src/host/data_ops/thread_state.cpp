#include "thread_state.h"

#include <openssl/crypto.h>

namespace virellock::dataops {

void releaseThreadState()
{
    OPENSSL_thread_stop();
}

} // namespace virellock::dataops
