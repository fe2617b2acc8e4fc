#include "piece_buffers.h"

#include "host/data_ops/secure_wipe.h"

namespace virellock {

PieceBuffers::~PieceBuffers()
{
    for (QByteArray& buffer : m_idle)
        dataops::wipe(buffer);
}

QByteArray PieceBuffers::take()
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            QByteArray buffer = std::move(m_idle.back());
            m_idle.pop_back();
            return buffer;
        }
    }
    QByteArray buffer;
    buffer.reserve(m_capacity);
    return buffer;
}

void PieceBuffers::giveBack(QByteArray& buffer)
{
    if (!buffer.isDetached() || buffer.capacity() < m_capacity) {
        dataops::wipe(buffer);
        buffer = QByteArray();
        return;
    }
    buffer.resize(0); // keeps the block and its capacity
    const std::lock_guard lock(m_mutex);
    m_idle.push_back(std::move(buffer));
    buffer = QByteArray();
}

} // namespace virellock
