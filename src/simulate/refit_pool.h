#pragma once
// Threads that work off jobs taken from a queue, each thread with a private
// worker made for it. The jobs are the caller's: it queues them in order,
// waits for each in turn and reads what the worker left in it.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quorvale {

/// A pool of threads working off jobs of type Job, which has a `bool done`
/// that the pool sets (under its lock) when the job's work is over.
template <typename Job>
class RefitPool {
 public:
  /// What one thread does to a job.
  using Work = std::function<void(Job&)>;
  /// Makes the private work of one thread; called once on each thread.
  using MakeWork = std::function<Work()>;

  /// Up to `threads` threads. A thread the system cannot start is not fatal:
  /// the pool goes on with those that started, and with none does each job
  /// on the calling thread as it is queued.
  RefitPool(int threads, MakeWork make) : make_(std::move(make)) {
    try {
      for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
    } catch (const std::system_error&) {
      // Fewer threads than asked for: the caller is told by started().
    }
    if (threads_.empty()) caller_ = make_();
  }
  ~RefitPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  RefitPool(const RefitPool&) = delete;
  RefitPool& operator=(const RefitPool&) = delete;

  /// The threads that started.
  int started() const { return static_cast<int>(threads_.size()); }

  /// Queues a job; without threads, does it at once.
  void submit(Job& job) {
    if (caller_) {
      caller_(job);
      job.done = true;
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(&job);
    }
    wake_.notify_one();
  }

  /// Waits until the work on `job` is over.
  void wait(const Job& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&job] { return job.done; });
  }

 private:
  MakeWork make_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;  ///< a job was queued, or the pool stops
  std::condition_variable done_;  ///< a job is over
  std::deque<Job*> queue_;
  bool stop_ = false;
  Work caller_;  ///< works on the calling thread when no thread started

  void run() {
    const Work work = make_();
    for (;;) {
      Job* job = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        job = queue_.front();
        queue_.pop_front();
      }
      work(*job);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        job->done = true;
      }
      done_.notify_all();
    }
  }
};

}  // namespace quorvale
