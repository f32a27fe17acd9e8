#include "common/worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

namespace kdl {

WorkerPool::WorkerPool(int threads) {
  if (threads < 1) threads = 1;
  workers_.reserve(static_cast<size_t>(threads));
  // The workers start with every signal a person or another process sends blocked, so that Ctrl-C and
  // SIGTERM reach the thread that waits for an answer or serves the mount and wake it there. Faults stay
  // open: they belong to the thread that causes them.
  sigset_t quiet;
  sigfillset(&quiet);
  for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&quiet, fault);
  struct BlockedHere {
    sigset_t before;
    explicit BlockedHere(const sigset_t& set) { pthread_sigmask(SIG_BLOCK, &set, &before); }
    ~BlockedHere() { pthread_sigmask(SIG_SETMASK, &before, nullptr); }
  } blocked(quiet);
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Run(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void WorkerPool::Enqueue(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  ready_.notify_one();
}

void WorkerPool::Run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

int WorkerPool::MachineThreads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace kdl
