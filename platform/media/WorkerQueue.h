// Hands work items from the caller's thread to a worker thread of their own
// writer, where they are encoded and written. The queue is bounded: a fixed
// number of item slots is made once (an item may own a frame buffer, made
// with it), and a caller that finds every slot taken waits for the worker to
// free one, so a slow disk or encoder slows the caller down instead of
// piling up memory. The item the worker is on keeps its slot until it is
// done, so the caller never touches it.
//
// A failure on the worker cannot be returned by the call that queued the
// item, which has returned already. What happens then is the writer's rule:
//   ReportOnce  the failure is returned once, by the next Put (which then
//               queues nothing) or by Finish when no Put comes; the worker
//               goes on with the items after it.
//   Close       the worker stops and drops what is still queued; every
//               later Put and Finish return the failure.
// Either way the worker's last error for the failure becomes the last error
// of the thread it is reported to (a full disk, a file-size limit).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/LastError.h"

namespace framory {

enum class WorkerFailure { ReportOnce, Close };

// The results the queue gives, in the writer's own codes.
struct WorkerQueueResults {
  std::int32_t Ok = 0;
  std::int32_t NotRunning = 0;  // Put before Start or after Finish; Start twice
  std::int32_t NoMemory = 0;    // the slots could not be made
  std::int32_t NoThread = 0;    // the worker could not be started
};

template <typename Item>
class WorkerQueue {
 public:
  // Works on one item on the worker thread; the writer's result code.
  using Consumer = std::function<std::int32_t(Item& item)>;

  WorkerQueue(WorkerFailure rule, const WorkerQueueResults& results)
      : rule_(rule), results_(results), failure_(results.Ok) {}
  ~WorkerQueue() { Finish(); }
  WorkerQueue(const WorkerQueue&) = delete;
  WorkerQueue& operator=(const WorkerQueue&) = delete;

  // Makes `depth` slots, each a copy of `prototype`, and starts the worker.
  std::int32_t Start(std::size_t depth, Consumer consume, const Item& prototype = Item()) {
    if (worker_.joinable() || finished_ || depth == 0) return results_.NotRunning;
    try {
      slots_.assign(depth, prototype);
    } catch (const std::bad_alloc&) {
      std::vector<Item>().swap(slots_);
      return results_.NoMemory;
    }
    consume_ = std::move(consume);
    try {
      worker_ = std::thread(&WorkerQueue::Run, this);
    } catch (const std::system_error&) {
      return results_.NoThread;
    }
    return results_.Ok;
  }
  bool Started() const { return worker_.joinable(); }

  // Waits for a free slot, lets `fill(Item&)` fill it on this thread and
  // queues it. A failure of the worker is returned instead (see above).
  template <typename Fill>
  std::int32_t Put(Fill&& fill) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!worker_.joinable() || stopping_) return results_.NotRunning;
    // Under ReportOnce the worker frees a slot and records the failure of
    // its item in one step, so a caller that had to wait learns of that
    // item's failure now.
    changed_.wait(lock, [this] { return count_ < slots_.size(); });
    if (failure_ != results_.Ok) return ReportFailure();
    Item& slot = slots_[(head_ + count_) % slots_.size()];
    // Filled outside the lock: the worker never touches a free slot.
    lock.unlock();
    fill(slot);
    lock.lock();
    ++count_;
    changed_.notify_all();
    return results_.Ok;
  }

  // What Put would return without queueing anything: the worker's failure
  // not reported yet, or Ok. For a caller that has nothing to queue this
  // time, so the worker is not woken for nothing.
  std::int32_t Check() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!worker_.joinable() || stopping_) return results_.NotRunning;
    return failure_ != results_.Ok ? ReportFailure() : results_.Ok;
  }

  // Waits until every queued item is done (or dropped) and stops the
  // worker. Returns the failure not reported yet, Ok when there is none;
  // later calls return Ok under ReportOnce and the failure under Close.
  std::int32_t Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (finished_ || !worker_.joinable()) {
        finished_ = true;
        const bool kept = rule_ == WorkerFailure::Close && failure_ != results_.Ok;
        return kept ? ReportFailure() : results_.Ok;
      }
      stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    std::vector<Item>().swap(slots_);
    return failure_ != results_.Ok ? ReportFailure() : results_.Ok;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return count_ > 0 || stopping_; });
      if (count_ == 0) return;  // stopping, and everything is done
      // The head slot stays counted, so Put leaves it alone meanwhile.
      Item& item = slots_[head_];
      lock.unlock();
      SetLastError(0);  // a failure that names no reason must not show an old one
      const std::int32_t result = consume_(item);
      lock.lock();
      if (result != results_.Ok && failure_ == results_.Ok) {
        failure_ = result;
        failureError_ = GetLastError();  // this thread's; the caller's is set on report
      }
      head_ = (head_ + 1) % slots_.size();
      --count_;
      if (result != results_.Ok && rule_ == WorkerFailure::Close) {
        // Drop what is queued; a caller waiting for a slot gets the failure.
        for (; count_ > 0; --count_, head_ = (head_ + 1) % slots_.size()) slots_[head_] = Item();
        changed_.notify_all();
        return;
      }
      changed_.notify_all();
    }
  }

  // Returns the failure kept for the caller and sets its last error; under
  // ReportOnce the failure is then forgotten. Locked.
  std::int32_t ReportFailure() {
    SetLastError(failureError_);
    const std::int32_t failure = failure_;
    if (rule_ == WorkerFailure::ReportOnce) {
      failure_ = results_.Ok;
      failureError_ = 0;
    }
    return failure;
  }

  const WorkerFailure rule_;
  const WorkerQueueResults results_;
  Consumer consume_;
  std::vector<Item> slots_;  // a ring: `count_` queued items from `head_`
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool stopping_ = false;
  bool finished_ = false;
  std::int32_t failure_;            // not reported yet (ReportOnce), or for good (Close)
  std::uint32_t failureError_ = 0;  // the worker's last error for it
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread worker_;
};

}  // namespace framory
