// ahead.h - work made ahead on a second thread: the items of a run are made by make(i, &item, worker)
// a batch at a time in order, a window of batches ahead of the ones taken, while the caller works on
// what it took. A caller that finds its batch still being made makes the next one meanwhile, rather
// than wait, so the two threads share the making however fast the caller is. Items may be taken in
// any order; one not made ahead (not reached, or the window is full of items not taken yet) is made
// by Take on its own. make must read only what stays unchanged while the run lasts, and whatever it
// keeps between items must be kept apart for each thread (worker says which is making). An item is
// handed over by swapping it with the caller's last one, whose room make then fills again: memory
// one thread allocates and the other frees would have the two contend for the allocator's lock.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quorin_host {

template <typename T> class Ahead {
public:
    using Make = std::function<void(size_t i, T* item, bool worker)>;
    // Without a thread (too few items to pay for one, or none to be had), Take makes every item.
    Ahead(size_t count, Make make, bool threaded);
    ~Ahead();
    Ahead(const Ahead&) = delete;
    Ahead& operator=(const Ahead&) = delete;

    // Item i (each is taken once) into *item, which make may find holding any earlier item.
    void Take(size_t i, T* item);

private:
    static constexpr size_t Batch = 64;   // items made at a time: one lock per batch
    static constexpr size_t Window = 16;  // batches made and not yet all taken
    static constexpr size_t None = SIZE_MAX;
    enum class State : uint8_t { Free, Making, Made };
    struct Slot {
        size_t batch = None;
        // Changed under the lock; a batch made is the taker's alone until it frees it, so its items
        // are taken without the lock once state says so.
        std::atomic<State> state{State::Free};
        size_t left = 0;            // items of the batch not taken yet
        bool wanted[Batch] = {};    // items not taken before the batch was claimed
        std::vector<T> items;
    };

    // With the lock held: the next batch in order, claimed for the calling thread, if its slot is free.
    size_t Claim();
    // Without the lock: makes the wanted items of a claimed batch, then marks it made.
    void Fill(size_t batch, bool worker, std::unique_lock<std::mutex>& lock);
    void Run();

    const size_t count_;
    const Make make_;
    std::vector<uint8_t> taken_;       // per item
    std::unique_ptr<Slot[]> slots_;    // batch b in slots_[b % Window]
    size_t next_ = 0;             // the next batch to claim
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread worker_;
};

template <typename T>
Ahead<T>::Ahead(size_t count, Make make, bool threaded) : count_(count), make_(std::move(make))
{
    if (!threaded || count == 0) return;
    taken_.assign(count, 0);
    slots_.reset(new Slot[Window]);
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // Made here, one at a time.
    }
}

template <typename T> Ahead<T>::~Ahead()
{
    if (!worker_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

template <typename T> size_t Ahead<T>::Claim()
{
    if (next_ * Batch >= count_) return None;
    Slot& slot = slots_[next_ % Window];
    if (slot.state != State::Free) return None;
    slot.batch = next_++;
    slot.state = State::Making;
    slot.left = 0;
    const size_t first = slot.batch * Batch, last = std::min(count_, first + Batch);
    for (size_t i = first; i < last; ++i) slot.left += slot.wanted[i - first] = !taken_[i];
    return slot.batch;
}

template <typename T> void Ahead<T>::Fill(size_t batch, bool worker, std::unique_lock<std::mutex>& lock)
{
    Slot& slot = slots_[batch % Window];
    lock.unlock();
    if (slot.items.empty()) slot.items.resize(Batch);
    const size_t first = batch * Batch, last = std::min(count_, first + Batch);
    for (size_t i = first; i < last; ++i) {
        if (slot.wanted[i - first]) make_(i, &slot.items[i - first], worker);
    }
    lock.lock();
    slot.state = slot.left == 0 ? State::Free : State::Made;
    changed_.notify_all();
}

template <typename T> void Ahead<T>::Take(size_t i, T* item)
{
    if (worker_.joinable()) {
        const size_t batch = i / Batch;
        Slot& slot = slots_[batch % Window];
        if (slot.state == State::Made && slot.batch == batch) {
            std::swap(*item, slot.items[i % Batch]);
            if (--slot.left > 0) return;
            const std::lock_guard<std::mutex> lock(mutex_);
            slot.state = State::Free;
            changed_.notify_all();
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (slot.batch == batch && slot.state == State::Made) {
                std::swap(*item, slot.items[i % Batch]);
                if (--slot.left == 0) {
                    slot.state = State::Free;
                    changed_.notify_all();
                }
                return;
            }
            if (slot.batch == batch && slot.state == State::Making) {
                const size_t other = Claim();
                if (other != None) Fill(other, false, lock);
                else changed_.wait(lock);
                continue;
            }
            if (batch == next_ && Claim() == batch) {
                Fill(batch, false, lock);
                continue;
            }
            taken_[i] = 1;
            break;
        }
    }
    make_(i, item, false);
}

template <typename T> void Ahead<T>::Run()
{
    size_t batch = None;
    try {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || (batch = Claim()) != None || next_ * Batch >= count_; });
            if (batch == None) return;
            Fill(batch, true, lock);
            batch = None;
        }
    } catch (...) {
        // Out of memory here, most likely: the batch is left to Take, which makes its items one at a
        // time and meets the shortage itself if it lasts.
        const std::lock_guard<std::mutex> lock(mutex_);
        if (batch != None) slots_[batch % Window].state = State::Free;
        changed_.notify_all();
    }
}

}  // namespace quorin_host
