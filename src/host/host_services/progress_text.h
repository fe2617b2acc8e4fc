#pragma once

#include "host/host_services/host_services.h"

#include <QString>

#include <optional>

namespace virellock {

// What a progress display says about long work, the way a file copy says it: which file, which
// of how many, the MiB done of the file's size, the speed and the time left. The speed is a
// moving average over the last few seconds (an exponential one, by time), so that it does not
// jump with every piece; it carries over from one file to the next, and is not taken while
// nothing can move, before a file's first byte (the key derivation) and after its last (the
// read-back check and the replacing).
//
//   正在处理第 2 个文件, 共 5 个: 日记.txt
//   12.0 / 256.0 MiB, 85.3 MiB/s, 剩余约 3 秒
class ProgressEstimate
{
public:
    // How many seconds it takes for a change of speed to show two thirds of its size.
    static constexpr double kSmoothingSeconds = 3.0;

    // Takes the state the work last reported, at elapsedMs since the work began.
    void update(const ProgressState& state, qint64 elapsedMs);

    // The smoothed speed in bytes a second; nothing before a byte has moved.
    std::optional<double> bytesPerSecond() const { return m_rate; }
    // Whole seconds left for the current file at that speed; nothing when unknown or finished.
    std::optional<qint64> secondsLeft() const;

    // "正在处理第 2 个文件, 共 5 个: name", "正在处理: name" for one file; empty for work on no
    // file.
    QString fileLine() const;
    // "12.0 / 256.0 MiB", then the speed and the time left once they are known, while bytes
    // remain.
    QString amountLine() const;

private:
    ProgressState m_state;
    bool m_started = false;
    // Where the last speed sample ended: the bytes done then and when.
    qint64 m_sampleDone = 0;
    qint64 m_sampleMs = 0;
    std::optional<double> m_rate;
};

// "3 秒", "1 分 30 秒", "2 小时 5 分".
QString durationText(qint64 seconds);

} // namespace virellock
