#pragma once

// Small pieces shared by the file jobs that hand work to a thread pool and read back what they
// wrote to the temporary file.

#include "engine/file_job.h"
#include "host/data_ops/thread_state.h"
#include "host/host_services/atomic_file_writer.h"

#include <QThreadPool>

#include <future>
#include <memory>
#include <utility>

namespace virellock {

// Runs task on the pool and returns a future of its result. QThreadPool takes no result back,
// so a shared promise carries it: the pool's copy of the lambda keeps it alive until set. The
// thread's OpenSSL state goes before the result is set, so that none is left once every
// future is ready.
template <typename Task> [[nodiscard]] std::future<bool> submitToPool(QThreadPool& pool, Task task)
{
    auto promise = std::make_shared<std::promise<bool>>();
    std::future<bool> future = promise->get_future();
    pool.start([promise, task = std::move(task)]() mutable {
        const bool result = task();
        dataops::releaseThreadState();
        promise->set_value(result);
    });
    return future;
}

// The beforeVerify test seam: runs on the temporary file once, before the first piece of it is
// read back, and what it wrote is flushed so that the read-back sees it.
class BeforeVerifyOnce
{
public:
    explicit BeforeVerifyOnce(const JobOptions& options) : m_options(options) {}

    // False when the flush after the hook failed.
    [[nodiscard]] bool run(AtomicFileWriter& writer)
    {
        if (!m_options.beforeVerify || std::exchange(m_run, true))
            return true;
        m_options.beforeVerify(writer.device());
        return writer.flush();
    }

private:
    const JobOptions& m_options;
    bool m_run = false;
};

} // namespace virellock
