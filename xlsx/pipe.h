// pipe.h - a producer on a thread of its own filling buffers that the calling thread consumes in
// order, through a ring of a few: a buffer is filled again once the consumer has moved past it, so
// neither side allocates for the hand-over and the producer stays at most a ring ahead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace quorin_host {

template <typename T, size_t Ring = 4> class Pipe {
public:
    Pipe() = default;
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    // The buffers, to be sized before Start.
    T& Buffer(size_t k) { return buffers_[k]; }
    // Runs produce on a thread of its own; false when no thread is to be had. What produce throws is
    // thrown again by Next once the buffers sent before it are consumed.
    bool Start(std::function<void()> produce);

    // Producer: the buffer to fill next, nullptr once the consumer has stopped the pipe.
    T* Fill();
    // Producer: hands over the buffer Fill gave; it is not touched again until Fill gives it anew.
    void Send();

    // Consumer: the next buffer sent, valid until the next call; nullptr once the producer returned
    // and every buffer it sent has been consumed.
    T* Next();
    // Consumer: from now on Fill gives the producer nothing, so that it ends.
    void Stop();

private:
    T buffers_[Ring];
    uint64_t sent_ = 0, taken_ = 0;  // buffers sent and consumed; the consumer holds taken_ while holding_
    bool holding_ = false, stopped_ = false, finished_ = false;
    std::exception_ptr failure_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread producer_;
};

template <typename T, size_t Ring> Pipe<T, Ring>::~Pipe()
{
    if (!producer_.joinable()) return;
    Stop();
    producer_.join();
}

template <typename T, size_t Ring> bool Pipe<T, Ring>::Start(std::function<void()> produce)
{
    try {
        producer_ = std::thread([this, produce = std::move(produce)] {
            std::exception_ptr failure;
            try {
                produce();
            } catch (...) {
                failure = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            failure_ = failure;
            finished_ = true;
            changed_.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

template <typename T, size_t Ring> T* Pipe<T, Ring>::Fill()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || sent_ - taken_ < Ring; });
    return stopped_ ? nullptr : &buffers_[sent_ % Ring];
}

template <typename T, size_t Ring> void Pipe<T, Ring>::Send()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    ++sent_;
    changed_.notify_all();
}

template <typename T, size_t Ring> T* Pipe<T, Ring>::Next()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (holding_) ++taken_, holding_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return sent_ > taken_ || finished_; });
    if (sent_ == taken_) {
        if (failure_) std::rethrow_exception(failure_);
        return nullptr;
    }
    holding_ = true;
    return &buffers_[taken_ % Ring];
}

template <typename T, size_t Ring> void Pipe<T, Ring>::Stop()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

}  // namespace quorin_host
