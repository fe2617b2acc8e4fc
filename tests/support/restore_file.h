#pragma once

#include "engine/decrypted_file.h"
#include "engine/methods.h"

namespace virellock::test {

// Restores a file encrypted by the method, as the decrypt command does once the password is
// known to be right: the enhanced methods check it on the way.
inline JobResult restoreFile(const QString& file, int method, const QString& password,
                             const JobOptions& options = {})
{
    const Method m = *methodFromIndex(method);
    if (!isEnhanced(m))
        return decryptStandardFile(file, *cipherOf(m), password, options);
    const EnhancedRecordReading reading = readEnhancedRecordOrFailure(file);
    if (!reading.record)
        return reading.failure;
    return restoreEnhancedFile(file, m, *reading.record, password, options);
}

} // namespace virellock::test
