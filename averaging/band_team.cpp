// The helpers wait for the pass counter to move and the caller for the count of helper bands
// left to reach 0, each with a short spin first: a pass over one input takes about a
// millisecond, so a thread that went to sleep at once would add its wake-up to every pass. Past
// the spin they sleep on a condition, its predicate read under the mutex, so no wake-up is lost.
#include "averaging/band_team.h"

#include <algorithm>
#include <system_error>

#include "base/platform.h"

namespace harnix {

namespace {

constexpr int SPINS = 2000;

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Spins until done() holds or the spin is over; returns done().
template <typename Done>
bool spin_until(Done done) {
  for (int i = 0; i < SPINS; ++i) {
    if (done()) return true;
    pause();
  }
  return done();
}

}  // namespace

BandTeam::BandTeam(int32_t bands) {
  const int32_t wanted = std::clamp<int32_t>(bands, 1, MAX_BANDS);
  helpers_.reserve(static_cast<std::size_t>(wanted - 1));
  for (int32_t band = 1; band < wanted; ++band) {
    try {
      helpers_.emplace_back([this, band] { serve(band); });
    } catch (const std::system_error&) {
      break;  // fewer bands: the same results
    }
  }
  bands_ = static_cast<int32_t>(helpers_.size()) + 1;
}

BandTeam::~BandTeam() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    generation_.fetch_add(1, std::memory_order_release);
  }
  work_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void BandTeam::serve(int32_t band) {
  uint32_t seen = 0;
  for (;;) {
    auto moved = [&] { return generation_.load(std::memory_order_acquire) != seen; };
    if (!spin_until(moved)) {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, moved);
    }
    seen = generation_.load(std::memory_order_acquire);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    call_side(band);
    call_(job_, band);
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      { std::lock_guard<std::mutex> lock(mutex_); }
      done_.notify_one();
    }
  }
}

void BandTeam::run_erased(void* job, Call call) {
  if (bands_ == 1) {
    call_side(0);
    call(job, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    call_ = call;
    pending_.store(bands_ - 1, std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
  }
  work_.notify_all();
  call_side(0);
  call(job, 0);
  auto finished = [&] { return pending_.load(std::memory_order_acquire) == 0; };
  if (!spin_until(finished)) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, finished);
  }
}

RowRange band_rows(int32_t rows, int32_t bands, int32_t band) {
  const int64_t first = static_cast<int64_t>(rows) * band / bands;
  const int64_t end = static_cast<int64_t>(rows) * (band + 1) / bands;
  return RowRange{static_cast<int32_t>(first), static_cast<int32_t>(end - first)};
}

int32_t usable_cores() {
  return usable_processors();
}

}  // namespace harnix
