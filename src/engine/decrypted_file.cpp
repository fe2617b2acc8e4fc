#include "decrypted_file.h"

#include "engine/parallel_cipher_job.h"
#include "engine/parallel_frame_job.h"
#include "engine/rewrite_steps.h"
#include "host/data_ops/key_derivation.h"
#include "host/data_ops/password_check.h"
#include "host/host_services/source_file.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <future>
#include <limits>

namespace virellock {

using namespace dataops;

namespace {

// Turns the payload of a file (all of it for a standard method) into the file's new content.
// Authenticated plain text goes to a temporary file beside the file as it is restored, chunk by
// chunk; only when all of it was good and reads back right does it replace the file. On any
// failure the temporary file is removed and the file stays as it was.
class Rewrite
{
public:
    // record: the one the password was checked against, for an enhanced method; the file must
    // still hold exactly it, byte for byte, or someone replaced the file meanwhile.
    // options.checkOnly: no temporary file, and finish() replaces nothing.
    Rewrite(const QString& path, const EnhancedRecord* record, const JobOptions& options)
        : m_source(path), m_writer(path), m_options(options)
    {
        // Unbuffered: walking zstd's frames reads a few header bytes every 128 KiB, and
        // QFile would read 16 KiB into a buffer of its own for each, the start of a block that
        // zstd may have stored as it is among them. The pieces are read whole either way.
        if (const SourceOpening opening = openSourceFile(m_source, QIODevice::Unbuffered);
            !opening.opened) {
            m_failure = {JobOutcome::SourceUnreadable, JobStep::OpenFile, opening.failure,
                         opening.cause};
            return;
        }
        m_range = {0, m_source.size()};
        if (record) {
            const std::optional<EnhancedRecord> now = readEnhancedRecord(m_source);
            if (!now || now->head != record->head ||
                now->payload.offset != record->payload.offset ||
                now->payload.size != record->payload.size) {
                m_failure =
                    fileChanged(QStringLiteral("the file no longer holds the record that was read"),
                                JobStep::RecordChanged);
                return;
            }
            m_range = record->payload;
        }
        if (!m_source.seek(m_range.offset))
            m_failure = {JobOutcome::SourceUnreadable, JobStep::ReadFile, m_source.errorString()};
    }

    const JobResult& failure() const { return m_failure; }
    QFile& source() { return m_source; }
    qint64 size() const { return m_range.size; }

    // Makes the temporary file for a plain content of at most maxSize bytes. A content that
    // cannot fit is refused at once; a file that may not be rewritten only after its content
    // was judged, so that a foreign file is called foreign whatever else it is.
    [[nodiscard]] JobResult openWriter(qint64 maxSize)
    {
        if (m_options.checkOnly)
            return JobOutcome::Done;
        m_cannotWrite = openRewrite(m_writer, maxSize, m_source, m_options);
        m_writable = m_cannotWrite.done();
        if (m_cannotWrite.step == JobStep::NoRoom)
            return m_cannotWrite;
        return JobOutcome::Done;
    }

    // Null for a file that cannot be rewritten and when only checking: the work then only tells
    // good input from bad.
    AtomicFileWriter* writer() { return m_writable ? &m_writer : nullptr; }

    JobResult finish(const JobResult& transformed)
    {
        if (!transformed.done())
            return transformed;
        // What was added to the file while it was read would be lost.
        if (m_source.size() != m_range.offset + m_range.size || !m_source.atEnd())
            return fileChanged(QStringLiteral("the file holds %1 bytes, %2 were read")
                                   .arg(m_source.size())
                                   .arg(m_range.offset + m_range.size));
        if (m_options.checkOnly)
            return JobOutcome::Done;
        if (!m_writable)
            return m_cannotWrite;
        // Windows cannot replace a file that is still open without delete sharing, as Qt
        // opens it.
        m_source.close();
        return commitRewrite(m_writer);
    }

private:
    QFile m_source;
    AtomicFileWriter m_writer;
    FileRange m_range;
    const JobOptions& m_options;
    bool m_writable = false;
    JobResult m_failure;
    JobResult m_cannotWrite;
};

// An enhanced record's password check, verified on a thread of its own (scrypt, 0.2 s) while
// the caller derives the data keys or restores the payload into the temporary file: the user
// waits for one of the two, not both. Without a record there is nothing to check.
class PasswordCheckAside
{
public:
    PasswordCheckAside(const EnhancedRecord* record, const QString& password)
    {
        if (record)
            m_passed = std::async(std::launch::async, [record, &password] {
                return verifyPasswordCheck(record->password_check, password);
            });
    }
    // Waits for the check when it still runs: it reads the record and the password.
    ~PasswordCheckAside()
    {
        if (m_passed.valid())
            m_passed.wait();
    }
    PasswordCheckAside(const PasswordCheckAside&) = delete;
    PasswordCheckAside& operator=(const PasswordCheckAside&) = delete;

    // Done when there was no record or the password passed; else the failure to report.
    [[nodiscard]] JobResult result()
    {
        if (m_passed.valid())
            m_failed = !m_passed.get();
        if (!m_failed)
            return JobOutcome::Done;
        return {JobOutcome::BadInput, JobStep::PasswordCheck,
                QStringLiteral("the password does not match the record's check")};
    }

    // A failure that came before the check was needed gives way to a wrong password, which
    // says more: the user learns what to type again.
    [[nodiscard]] JobResult before(const JobResult& failure)
    {
        JobResult checked = result();
        return checked.done() ? failure : checked;
    }

private:
    std::future<bool> m_passed;
    bool m_failed = false;
};

// The most plain bytes that sealed chunks of the given length open to: a tag comes off each.
// Too short for the tags, they open to nothing.
qint64 largestPlainText(qint64 sealedLength)
{
    const std::optional<qint64> chunks = chunkCount(sealedLength, true);
    return chunks ? std::max<qint64>(0, sealedLength - *chunks * kTagSize) : 0;
}

JobResult decryptRange(const QString& path, const EnhancedRecord* record, CipherAlgorithm algorithm,
                       const QString& password, const JobOptions& options)
{
    PasswordCheckAside check(record, password);
    Rewrite rewrite(path, record, options);
    if (!rewrite.failure().done())
        return check.before(rewrite.failure());
    const QByteArray salt = rewrite.source().read(kSaltSize);
    if (salt.size() != kSaltSize)
        return check.before(
            {JobOutcome::BadInput, JobStep::Content, QStringLiteral("too short for a salt")});
    const qint64 sealedLength = rewrite.size() - kSaltSize;
    if (const JobResult opened = rewrite.openWriter(largestPlainText(sealedLength)); !opened.done())
        return check.before(opened);
    // Both derivations at once, one on each core; nothing is deciphered or written before the
    // password has passed.
    const std::optional<ChunkCipher> cipher = ChunkCipher::fromPassword(algorithm, password, salt);
    if (JobResult checked = check.result(); !checked.done())
        return checked;
    if (!cipher)
        return {JobOutcome::WriteFailed, JobStep::DeriveKeys,
                QStringLiteral("the keys could not be derived")};
    CipherJob job;
    job.cipher = &*cipher;
    job.encrypt = false;
    job.source = &rewrite.source();
    job.length = sealedLength;
    job.writer = rewrite.writer();
    job.threads = options.threads;
    return rewrite.finish(runCipherJob(job, options));
}

// Before anything is written: the content the frames declare, walked from their headers without
// decompressing, must fit in the free space of the disk the temporary file goes to. A small
// foreign payload that declares gigabytes is turned away after a few reads, before it can fill
// the disk; each frame is held to what it declares as it is decompressed. The walk of a long
// payload can be cancelled like the work that follows it. Sets contentSize to what they declare.
JobResult checkRoom(const QString& path, QIODevice& payload, qint64 length,
                    const ProgressCallback& progress, qint64& contentSize)
{
    const QFileInfo file(path);
    // The temporary file goes beside the file a symbolic link leads to.
    const QString target = file.canonicalFilePath();
    const QStorageInfo disk(QFileInfo(target.isEmpty() ? file.absoluteFilePath() : target).path());
    const qint64 available = disk.isValid() ? disk.bytesAvailable() : -1;
    // A disk that does not say is left to refuse the writes itself.
    const qint64 limit = available >= 0 ? available : std::numeric_limits<qint64>::max();
    const KeepGoing keepGoing = [&progress, length] { return !progress || progress(0, length); };
    const FrameSequence frames = walkFramesOf(payload, length, limit, keepGoing);
    switch (frames.status) {
    case FrameSequence::Good:
        contentSize = frames.contentSize;
        return JobOutcome::Done;
    case FrameSequence::Cancelled:
        return JobOutcome::Cancelled;
    case FrameSequence::TooLarge:
        return {JobOutcome::WriteFailed,
                JobStep::NoRoom,
                QStringLiteral("the first %1 frames declare %2 bytes, the disk has %3 free")
                    .arg(frames.frames)
                    .arg(frames.contentSize)
                    .arg(available),
                {FailureReason::NoSpace, frames.contentSize, available}};
    case FrameSequence::Refused:
        break;
    }
    return {JobOutcome::BadInput, JobStep::Content,
            QStringLiteral("the payload is not a sequence of frames by the rules")};
}

// The MD5 method's payload needs no key: it is restored into the temporary file while the
// password is checked, and replaces the file only when the password passed. A wrong password
// is told as such, whatever the payload holds, and the temporary file goes.
JobResult decompressRange(const QString& path, const EnhancedRecord& record,
                          const QString& password, const JobOptions& options)
{
    PasswordCheckAside check(&record, password);
    Rewrite rewrite(path, &record, options);
    if (!rewrite.failure().done())
        return check.before(rewrite.failure());
    if (!options.checkOnly) {
        qint64 contentSize = 0;
        const JobResult room =
            checkRoom(path, rewrite.source(), rewrite.size(), options.progress, contentSize);
        if (room.outcome == JobOutcome::Cancelled)
            return room;
        if (!room.done())
            return check.before(room);
        if (const JobResult opened = rewrite.openWriter(contentSize); !opened.done())
            return check.before(opened);
    }
    FrameJob job;
    job.compress = false;
    job.source = &rewrite.source();
    job.length = rewrite.size();
    job.writer = rewrite.writer();
    const JobResult decompressed = runFrameJob(job, options);
    if (decompressed.outcome == JobOutcome::Cancelled)
        return decompressed;
    // Nothing replaces the file before the password has passed.
    if (JobResult checked = check.result(); !checked.done())
        return checked;
    return rewrite.finish(decompressed);
}

} // namespace

EnhancedRecordReading readEnhancedRecordOrFailure(const QString& path)
{
    QFile file(path);
    if (const SourceOpening opening = openSourceFile(file); !opening.opened)
        return {std::nullopt,
                {JobOutcome::SourceUnreadable, JobStep::OpenFile, opening.failure, opening.cause}};
    std::optional<EnhancedRecord> record = readEnhancedRecord(file);
    if (!record)
        return {std::nullopt,
                {JobOutcome::BadInput, JobStep::Record,
                 QStringLiteral("not exactly three values within their bounds")}};
    return {std::move(record), JobOutcome::Done};
}

std::optional<EnhancedRecord> readEnhancedRecordFile(const QString& path)
{
    return readEnhancedRecordOrFailure(path).record;
}

JobResult decryptStandardFile(const QString& path, CipherAlgorithm cipher, const QString& password,
                              const JobOptions& options)
{
    return decryptRange(path, nullptr, cipher, password, options);
}

JobResult restoreEnhancedFile(const QString& path, Method method, const EnhancedRecord& record,
                              const QString& password, const JobOptions& options)
{
    if (const std::optional<CipherAlgorithm> cipher = cipherOf(method))
        return decryptRange(path, &record, *cipher, password, options);
    return decompressRange(path, record, password, options);
}

} // namespace virellock
