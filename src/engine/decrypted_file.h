#pragma once

// Restoring the plain content of an encrypted file, in place.

#include "engine/encrypted_file.h"
#include "engine/methods.h"

namespace virellock {

// Reads the record of an enhanced-method file; nothing when the file cannot be opened or does
// not hold exactly a record.
std::optional<EnhancedRecord> readEnhancedRecordFile(const QString& path);

// The same, with the reason when there is no record.
struct EnhancedRecordReading
{
    std::optional<EnhancedRecord> record;
    // When there is none: SourceUnreadable at JobStep::OpenFile when the file could not be
    // opened (a FIFO, a device or a folder among others), else BadInput at JobStep::Record.
    JobResult failure;
};
[[nodiscard]] EnhancedRecordReading readEnhancedRecordOrFailure(const QString& path);

// Decrypts a standard-method file with the password and writes the plain content over it.
// Every chunk is authenticated before its plain bytes go to the temporary file, and the file is
// replaced only when all of it was good and reads back right: a wrong password, a wrong method
// and a damaged or foreign file all end in BadInput with the file untouched. With
// options.checkOnly the same checks run and nothing is written (file_job.h).
[[nodiscard]] JobResult decryptStandardFile(const QString& path, dataops::CipherAlgorithm cipher,
                                            const QString& password,
                                            const JobOptions& options = {});

// Restores the payload of an enhanced-method file read as record: decrypted with the password
// for the DES and RC4 methods, decompressed for the MD5 method. The password is checked against
// the record's password_check on a thread of its own, at the same time as the data keys are
// derived (DES, RC4) or the payload is restored into the temporary file (MD5); a wrong password
// ends in BadInput at JobStep::PasswordCheck with the file untouched and no temporary file
// left. The file must still hold that record byte for byte (someone may have replaced the file
// meanwhile), or nothing is written.
[[nodiscard]] JobResult restoreEnhancedFile(const QString& path, Method method,
                                            const EnhancedRecord& record, const QString& password,
                                            const JobOptions& options = {});

} // namespace virellock
