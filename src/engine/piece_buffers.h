#pragma once

// The buffers a file job's pieces are read, transformed and checked in. Allocating a few MiB
// for every piece and freeing it again costs more than the cheap ciphers themselves: each new
// block is fresh memory from the system that faults in page by page, and each one freed goes
// back. A job keeps the buffers it has used and hands them out again instead.

#include <QByteArray>

#include <mutex>
#include <vector>

namespace virellock {

class PieceBuffers
{
public:
    // Every buffer reserves capacity bytes, the most that any piece's input, output or
    // read-back of the job holds, so that filling one never moves it: moving would free the
    // old block, plain text and all, without wiping it.
    explicit PieceBuffers(qsizetype capacity) : m_capacity(capacity) {}
    // Wipes every buffer that was given back, its whole capacity: the plain text of the last
    // pieces they held stays in them until then.
    ~PieceBuffers();
    PieceBuffers(const PieceBuffers&) = delete;
    PieceBuffers& operator=(const PieceBuffers&) = delete;

    // An empty buffer with the capacity reserved. Any thread.
    [[nodiscard]] QByteArray take();
    // Takes the buffer back for the next piece, without wiping it; any thread. A buffer that
    // is shared or has lost its room is wiped and dropped instead.
    void giveBack(QByteArray& buffer);

    qsizetype capacity() const { return m_capacity; }

private:
    const qsizetype m_capacity;
    std::mutex m_mutex;
    std::vector<QByteArray> m_idle;
};

} // namespace virellock
