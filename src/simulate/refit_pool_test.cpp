#include "simulate/refit_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace quorvale {
namespace {

struct Job {
  int input = 0;
  int output = 0;
  const void* worker = nullptr;  ///< the private state that did it
  bool done = false;
};

/// Work that squares the input on a private state made once per thread.
RefitPool<Job>::MakeWork squaring(std::atomic<int>& made) {
  return [&made]() -> RefitPool<Job>::Work {
    ++made;
    auto state = std::make_shared<int>(0);
    return [state](Job& job) {
      ++*state;
      job.output = job.input * job.input;
      job.worker = state.get();
    };
  };
}

TEST(RefitPool, EveryJobDoneOnceByOneOfThePrivateWorkers) {
  std::atomic<int> made = 0;
  std::vector<Job> jobs(50);
  std::vector<const void*> workers;
  {
    RefitPool<Job> pool(3, squaring(made));
    ASSERT_EQ(pool.started(), 3);
    for (int i = 0; i < 50; ++i) {
      jobs[static_cast<std::size_t>(i)].input = i + 1;
      pool.submit(jobs[static_cast<std::size_t>(i)]);
    }
    for (const Job& job : jobs) pool.wait(job);
  }
  EXPECT_LE(made.load(), 3);
  for (int i = 0; i < 50; ++i) {
    const Job& job = jobs[static_cast<std::size_t>(i)];
    EXPECT_TRUE(job.done);
    EXPECT_EQ(job.output, (i + 1) * (i + 1));
    workers.push_back(job.worker);
  }
  std::sort(workers.begin(), workers.end());
  workers.erase(std::unique(workers.begin(), workers.end()), workers.end());
  EXPECT_LE(workers.size(), 3u);
}

TEST(RefitPool, WithoutThreadsTheCallerDoesEachJobAsItIsQueued) {
  std::atomic<int> made = 0;
  RefitPool<Job> pool(0, squaring(made));
  EXPECT_EQ(pool.started(), 0);
  EXPECT_EQ(made.load(), 1);
  Job job{7};
  pool.submit(job);
  EXPECT_TRUE(job.done);
  EXPECT_EQ(job.output, 49);
}

}  // namespace
}  // namespace quorvale
