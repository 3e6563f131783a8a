#pragma once

#include <QThreadPool>

#include <future>
#include <memory>
#include <type_traits>

namespace qc {

// Work handed to one thread of its own, a piece at a time in the order given, so that a
// photo's file work runs while the next photo waits on the database. The destructor waits
// for whatever is still running: declared after what the work uses, it never outlives it.
class Background
{
public:
    Background()
    {
        m_pool.setMaxThreadCount(1);
        m_pool.setExpiryTimeout(-1); // one thread for the whole run
    }
    ~Background() { m_pool.waitForDone(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // The result, or the exception the work ended with, comes out of the future's get().
    template <typename Work> std::future<std::invoke_result_t<Work>> run(Work&& work)
    {
        using Result = std::invoke_result_t<Work>;
        auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<Work>(work));
        std::future<Result> result = task->get_future();
        m_pool.start([task] { (*task)(); });
        return result;
    }

private:
    QThreadPool m_pool;
};

} // namespace qc
