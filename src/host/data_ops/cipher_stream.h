#pragma once

#include "chunk_cipher.h"
#include "stream_transform.h"

#include <QStringView>

#include <memory>

namespace virellock::dataops {

// Writes the salt, then seals the input chunk by chunk. The salt is random unless given
// (tests pin it to compare outputs).
std::unique_ptr<StreamTransform> makeEncryptStream(CipherAlgorithm algorithm, QStringView password,
                                                   std::optional<QByteArray> salt = {});

// Reads the salt, derives the keys, then opens chunk by chunk. It emits a chunk's plain bytes
// only after the chunk's tag has been checked, and fails at finish() if the input stopped
// anywhere but at the end of a last chunk.
std::unique_ptr<StreamTransform> makeDecryptStream(CipherAlgorithm algorithm, QStringView password);

} // namespace virellock::dataops
