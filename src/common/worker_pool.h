// A fixed set of worker threads taking tasks from one queue: track units and images that can be worked on
// independently are spread over the machine's cores. Tasks never talk to the user: their results go back
// to the thread that submitted them, which alone uses the Prompter, in the order one thread would.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace kdl {

class WorkerPool {
 public:
  // `threads` workers (at least one).
  explicit WorkerPool(int threads);
  // Runs what is queued to its end, then stops the workers.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()); }

  // Queues `task`; its result (or exception) arrives through the future.
  template <class F>
  auto Submit(F task) -> std::future<std::invoke_result_t<F&>> {
    using R = std::invoke_result_t<F&>;
    auto job = std::make_shared<std::packaged_task<R()>>(std::move(task));
    std::future<R> result = job->get_future();
    Enqueue([job]() { (*job)(); });
    return result;
  }

  // The number of cores this process may run on (at least 1).
  static int MachineThreads();

 private:
  void Enqueue(std::function<void()> task);
  void Run();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kdl
