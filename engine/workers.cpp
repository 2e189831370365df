// workers.cpp - the pool of hosts, each with its own copy of the module.
#include "engine/workers.h"

#include <algorithm>
#include <string>
#include <thread>

namespace quorin_host {

HostLease::~HostLease()
{
    if (!hosts.empty()) workers_.GiveBack(hosts);
}

Workers::Workers(SubstituteHost& first, size_t count) : first_(first), count_(count == 0 ? 1 : count) { free_.push_back(&first); }

Workers::~Workers()
{
    for (const std::unique_ptr<SubstituteHost>& copy : copies_) {
        copy->Close();
        copy->Unload();
    }
}

SubstituteHost* Workers::MakeCopy()
{
    auto host = std::make_unique<SubstituteHost>();
    std::string error;
    if (!host->LoadCopy(first_.ModulePath(), &error)) return nullptr;
    // A system that handed back a module already loaded would have two workers share its statics.
    const auto shares = [&](const SubstituteHost& other) { return other.Procedure("xlAutoOpen") == host->Procedure("xlAutoOpen"); };
    if (shares(first_) || std::any_of(copies_.begin(), copies_.end(), [&](const auto& copy) { return shares(*copy); })) return nullptr;
    if (host->Open() != 1) {
        host->Close();
        return nullptr;
    }
    host->ResetRecords();
    copies_.push_back(std::move(host));
    return copies_.back().get();
}

HostLease Workers::Take()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::vector<SubstituteHost*> taken = TakeLocked(1);
        if (!taken.empty()) return HostLease(*this, std::move(taken));
        returned_.wait(lock);
    }
}

HostLease Workers::TakeFree(size_t most)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return HostLease(*this, TakeLocked(most));
}

std::vector<SubstituteHost*> Workers::TakeLocked(size_t most)
{
    std::vector<SubstituteHost*> taken;
    while (taken.size() < most) {
        if (!free_.empty()) {
            taken.push_back(free_.back());
            free_.pop_back();
            continue;
        }
        if (made_ >= count_) break;
        ++made_;
        // Made under the lock: a copy loads in a few milliseconds, once per worker for the pool's life.
        if (SubstituteHost* copy = MakeCopy()) taken.push_back(copy);
    }
    return taken;
}

void Workers::GiveBack(const std::vector<SubstituteHost*>& hosts)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        free_.insert(free_.end(), hosts.begin(), hosts.end());
    }
    returned_.notify_all();
}

size_t CoreCount()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

}  // namespace quorin_host
