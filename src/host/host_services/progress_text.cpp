#include "progress_text.h"

#include <cmath>

namespace virellock {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
// Samples shorter than this are left to grow: a piece or two of a file arrives in bursts.
constexpr qint64 kShortestSampleMs = 200;

QString mib(qint64 bytes)
{
    return QString::number(double(bytes) / kMiB, 'f', 1);
}

} // namespace

void ProgressEstimate::update(const ProgressState& state, qint64 elapsedMs)
{
    const bool otherFile = !m_started || state.fileIndex != m_state.fileIndex ||
                           state.fileName != m_state.fileName || state.done < m_state.done;
    m_state = state;
    m_started = true;
    const qint64 sampleMs = elapsedMs - m_sampleMs;
    // A new file starts a new sample; the last one's speed stays until this one has its own.
    // Nothing moves while the keys are derived or the written file is checked and replaced:
    // those stretches are left out, not counted as a speed of zero.
    const bool idle =
        state.done == m_sampleDone && (!m_rate || state.done == 0 || state.done >= state.total);
    if (otherFile || idle) {
        m_sampleDone = state.done;
        m_sampleMs = elapsedMs;
        return;
    }
    if (sampleMs < kShortestSampleMs)
        return;
    const double seconds = double(sampleMs) / 1000.0;
    const double sample = double(state.done - m_sampleDone) / seconds;
    if (!m_rate)
        m_rate = sample;
    else
        *m_rate += (1.0 - std::exp(-seconds / kSmoothingSeconds)) * (sample - *m_rate);
    m_sampleDone = state.done;
    m_sampleMs = elapsedMs;
}

std::optional<qint64> ProgressEstimate::secondsLeft() const
{
    if (!m_rate || *m_rate <= 0.0 || m_state.done >= m_state.total)
        return std::nullopt;
    return qMax(qint64(1), qint64(std::llround(double(m_state.total - m_state.done) / *m_rate)));
}

QString ProgressEstimate::fileLine() const
{
    if (m_state.fileName.isEmpty())
        return {};
    if (m_state.fileCount <= 1)
        return QStringLiteral("正在处理: ") + m_state.fileName;
    return QStringLiteral("正在处理第 %1 个文件, 共 %2 个: ")
               .arg(m_state.fileIndex + 1)
               .arg(m_state.fileCount) +
           m_state.fileName;
}

QString ProgressEstimate::amountLine() const
{
    QString line =
        mib(m_state.done) + QStringLiteral(" / ") + mib(m_state.total) + QStringLiteral(" MiB");
    const std::optional<qint64> left = secondsLeft();
    if (!left)
        return line;
    line += QStringLiteral(", %1 MiB/s").arg(*m_rate / kMiB, 0, 'f', 1);
    return line + QStringLiteral(", 剩余约 ") + durationText(*left);
}

QString durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 秒").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 分 %2 秒").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 小时 %2 分").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

} // namespace virellock
