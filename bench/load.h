#pragma once
// A busy thread on every core for as long as the object lives: the "loaded" mode of the
// benchmarks, as on a shared machine where other work competes for the processors. The
// busy threads run at the ordinary nice level 0, whatever level the thread that starts
// them has asked for.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qvin::bench {

class Load {
public:
    Load() {
        const unsigned n = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 0);
                volatile std::uint64_t x = 0;
                while (!stop_.load(std::memory_order_relaxed)) x = x + 1;
            });
    }
    ~Load() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;
    std::size_t size() const { return threads_.size(); }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

}  // namespace qvin::bench
