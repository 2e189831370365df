// workers.h - the add-in loaded once per worker, so that workbooks are evaluated on every core: the
// module keeps its argument buffers and answer in statics, so two threads may call it at once only
// through two copies of it. The first host is the caller's, loaded and opened; each other holds a
// private copy of the same module (ModuleLoader::LoadCopy), opened when first taken and kept for
// the pool's life. A caller takes hosts for a while and gives them back: no host serves two callers
// at once. A workbook is evaluated by one host taken and waited for, helped by those free meanwhile.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "host/substitute_host.h"

namespace quorin_host {

class Workers;

// Hosts taken from the pool, given back when the lease ends.
class HostLease {
public:
    HostLease(HostLease&& other) noexcept : workers_(other.workers_), hosts(std::move(other.hosts)) { other.hosts.clear(); }
    HostLease(const HostLease&) = delete;
    HostLease& operator=(const HostLease&) = delete;
    HostLease& operator=(HostLease&&) = delete;
    ~HostLease();

private:
    friend class Workers;
    HostLease(Workers& workers, std::vector<SubstituteHost*> taken) : workers_(workers), hosts(std::move(taken)) {}
    Workers& workers_;

public:
    std::vector<SubstituteHost*> hosts;
};

class Workers {
public:
    // first: loaded and opened, and not used elsewhere while the pool lends it. count: the hosts kept,
    // first among them; one is kept at the least.
    Workers(SubstituteHost& first, size_t count);
    ~Workers();  // closes and unloads the copies
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    size_t Count() const { return count_; }
    // One host, waiting for one to be given back when all are out.
    HostLease Take();
    // The hosts free now or that can still be made, up to most, perhaps none: never waits. A copy
    // that cannot be loaded or opened (no memory, say) is one worker fewer, not a failure.
    HostLease TakeFree(size_t most);

private:
    friend class HostLease;
    void GiveBack(const std::vector<SubstituteHost*>& hosts);
    std::vector<SubstituteHost*> TakeLocked(size_t most);
    // A new host with its own copy of the first's module, opened; nullptr if it cannot be made.
    SubstituteHost* MakeCopy();

    SubstituteHost& first_;
    const size_t count_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<SubstituteHost>> copies_;
    std::vector<SubstituteHost*> free_;
    size_t made_ = 1;          // hosts made, or tried: the first and its copies
};

// The cores this machine runs threads on: the default worker count.
size_t CoreCount();

}  // namespace quorin_host
