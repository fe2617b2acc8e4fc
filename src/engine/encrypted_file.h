#pragma once

// encryptFile(), which writes an encrypted file in place. The standard methods write the bare
// cipher output (the chunk container, host/file_format/chunk_cipher.h), the enhanced ones an
// EnhancedRecord (host/file_format/enhanced_record.h).

#include "engine/file_job.h"
#include "engine/prepared_keys.h"
#include "host/file_format/enhanced_record.h"

#include <QString>

namespace virellock {

// Replaces the content of the file at path by its encrypted form with the method of that index
// and the password; the enhanced methods store the hint too, the standard ones ignore it.
// Streams the file through a temporary file beside it, reads that back and checks it before it
// replaces the file; on any failure or cancel the file stays as it was.
// A file with more than one name (hard links) is refused: the other names would keep the plain
// content.
// keys: derived beforehand for this method (prepared_keys.h), used for this file only and
// then wiped; without them, or when they are for another method, the keys are derived here.
[[nodiscard]] JobResult encryptFile(const QString& path, int method, const QString& password,
                                    const QString& hint, const JobOptions& options = {},
                                    std::optional<EncryptionKeys> keys = std::nullopt);

} // namespace virellock
