// Work handed from a reading thread to the thread that saves into the store.
//
// Contract: one thread fills slots (Next, then Flush when it has no more for a while or
// at its end); one other thread takes the filled slots a batch at a time (Take), and
// gives each batch back (Give) when done with it. Slots travel in batches of kBatch and
// come back to be filled again, so a slot's T keeps what it allocated (strings keep their
// room) and is only ever destroyed with the Handoff: the threads wake each other once a
// batch instead of once an item, and nothing made on one thread is freed on the other,
// which is slow in the C library's allocator. Stop ends both sides' waiting: Next then
// gives null, Take gives null.
//
// Making a Handoff also tells the C library to keep memory freed at the top of its heap
// rather than give it back to the system at once: each item's memory would otherwise go
// back and be taken again, and with two threads running every such round trip flushes
// both processors' TLBs. The process keeps at most what it needed at its peak.
//
// Measured (bench/vcard.sh, bench/ical.sh; the machine's noise is large, so the system
// calls are counted too): 100,000 contacts from one .vcf, one card at a time 3.2 to 3.6 s
// and 5 s of CPU with 214,000 futex calls; in batches of 64, 1.8 to 2.3 s and 2.6 s of
// CPU with 4,600 (batches of 16 or 256 were the same within the noise). 100,000
// appointments from one .ics: one thread 3.55 s; two threads 3.35 s with 45,850 brk calls,
// and about 3 s with 29 when the freed memory is kept.
#pragma once

#include <malloc.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace interop {

template <typename T>
class Handoff {
 public:
  static constexpr size_t kBatch = 64;

  struct Batch {
    std::vector<T> slots;
    size_t used = 0;
  };

  Handoff() {
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    for (Batch& batch : batches_) empty_.push_back(&batch);
  }
  Handoff(const Handoff&) = delete;
  Handoff& operator=(const Handoff&) = delete;

  // The filling side: the next slot to fill (holding what it held last time), or null
  // when the other side has stopped.
  T* Next() {
    if (filling_ != nullptr && filling_->used == kBatch) Flush();
    if (filling_ == nullptr) {
      filling_ = TakeFrom(empty_);
      if (filling_ == nullptr) return nullptr;
      filling_->used = 0;
      filling_->slots.reserve(kBatch);
    }
    // Slots are made as they are first needed: a file of one item makes one, not kBatch.
    if (filling_->used == filling_->slots.size()) filling_->slots.emplace_back();
    return &filling_->slots[filling_->used++];
  }
  void Flush() {
    if (filling_ != nullptr) PutTo(full_, filling_);
    filling_ = nullptr;
  }

  // The taking side: the next batch, its first `used` slots filled, in order.
  Batch* Take() { return TakeFrom(full_); }
  void Give(Batch* batch) { PutTo(empty_, batch); }

  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  Batch* TakeFrom(std::deque<Batch*>& from) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || !from.empty(); });
    if (stopped_) return nullptr;
    Batch* batch = from.front();
    from.pop_front();
    return batch;
  }
  void PutTo(std::deque<Batch*>& to, Batch* batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    to.push_back(batch);
    changed_.notify_all();
  }

  Batch batches_[4];
  Batch* filling_ = nullptr;  // the filling side's own
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch*> empty_, full_;
  bool stopped_ = false;
};

}  // namespace interop
