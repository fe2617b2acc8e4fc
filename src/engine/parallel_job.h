#pragma once

// The pipeline that every file job runs its content through: the calling thread reads the
// file piece by piece and writes the results in order, while workers on all cores transform
// the pieces (seal or open cipher chunks, compress or decompress zstd frames) and read each
// written piece back from the temporary file to check it. Reading, transforming, writing and
// checking overlap; memory holds a few pieces per thread, whatever the file's size.

#include "engine/file_job.h"
#include "host/host_services/atomic_file_writer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

#include <mutex>
#include <vector>

namespace virellock {

// One piece of a file: its input as read, and its output as the transform made it. Either may
// be plain text: their buffers go back to the job's PieceBuffers, which wipes them at the end,
// and a piece that still holds one when it goes (a job that failed) wipes it.
struct JobPiece
{
    JobPiece() = default;
    JobPiece(const JobPiece&) = delete;
    JobPiece& operator=(const JobPiece&) = delete;
    ~JobPiece();

    quint64 index = 0;
    bool last = false;
    QByteArray input;
    QByteArray output;
};

// What one kind of job does with its pieces; runPieces() does the rest.
class PieceWork
{
public:
    virtual ~PieceWork() = default;

    // The input bytes the job reads in all, for the progress callback.
    [[nodiscard]] virtual qint64 inputSize() const = 0;

    // The most bytes that a piece's input or output holds, at any moment of read() and
    // transform(): the pieces' buffers are made this large once and used again (PieceBuffers).
    [[nodiscard]] virtual qsizetype pieceCapacity() const = 0;

    // On the calling thread, in order: reads the piece with the given index into
    // piece.input, which is empty, and says whether it is the last. Anything but Done ends the
    // job.
    [[nodiscard]] virtual JobResult read(JobPiece& piece) = 0;

    // On a worker, for several pieces at once: makes piece.output, empty until then, from
    // piece.input.
    [[nodiscard]] virtual bool transform(JobPiece& piece) const = 0;
    // How the job ends when transform() failed on the piece.
    [[nodiscard]] virtual JobResult transformFailed(const JobPiece& piece) const = 0;

    // How a written piece is checked when it reads back from the temporary file.
    enum class ReadBackCheck
    {
        // Byte for byte against piece.output, still in memory: read back in small blocks, so
        // that no second copy of the piece is made (and wiped) for it.
        SameBytes,
        // verify() judges the whole piece as it reads back.
        WholePiece,
    };
    [[nodiscard]] virtual ReadBackCheck readBackCheck() const = 0;

    // On a worker, for ReadBackCheck::WholePiece: whether readBack, the piece's output as the
    // temporary file gives it back, is what was meant to be written. Without repeating the
    // transform.
    [[nodiscard]] virtual bool verify(const JobPiece& piece, QByteArrayView readBack) const
    {
        return readBack == piece.output;
    }
};

// Reads the next size bytes of source into piece.input, for PieceWork::read(). A source that
// ends early has shrunk since it was measured: the file changed while it was read.
[[nodiscard]] JobResult readPieceInput(QIODevice& source, qint64 size, JobPiece& piece);

// Runs the work with options.threads workers (0: one per core), appending the outputs to the
// writer at its current position; without a writer the outputs go nowhere and the job only
// tells good input from bad. Done, or the first failure in the file's order.
[[nodiscard]] JobResult runPieces(PieceWork& work, AtomicFileWriter* writer,
                                  const JobOptions& options);

// The number of workers runPieces() uses for options.threads.
[[nodiscard]] int workerCount(int threads);

// Objects that one thread at a time may use, such as zstd contexts: each worker takes one for
// a piece and gives it back, so there are never more than there are workers, and each is made
// only when no idle one is left.
template <typename T> class PerWorker
{
public:
    class Lease
    {
    public:
        Lease(PerWorker& owner, std::unique_ptr<T> object)
            : m_owner(owner), m_object(std::move(object))
        {}
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { m_owner.giveBack(std::move(m_object)); }
        T& operator*() const { return *m_object; }
        T* operator->() const { return m_object.get(); }

    private:
        PerWorker& m_owner;
        std::unique_ptr<T> m_object;
    };

    [[nodiscard]] Lease take()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_idle.empty()) {
                std::unique_ptr<T> object = std::move(m_idle.back());
                m_idle.pop_back();
                return Lease(*this, std::move(object));
            }
        }
        return Lease(*this, std::make_unique<T>());
    }

private:
    void giveBack(std::unique_ptr<T> object)
    {
        const std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(object));
    }

    std::mutex m_mutex;
    std::vector<std::unique_ptr<T>> m_idle;
};

} // namespace virellock
