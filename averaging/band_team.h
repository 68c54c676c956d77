// A team of threads that runs one function on every band of a pass, and the split of rows into
// bands.
//
// A pass over a map is cut into bands of consecutive rows; run(f) calls f(band) once for every
// band, band 0 on the calling thread and each other band on a helper thread of its own, and
// returns when every call has returned. Every band's work is fixed by its index alone, never by
// which thread is faster, so what a pass computes does not depend on the number of bands
// wherever its bands write disjoint data. A team of one band starts no thread: run(f) is f(0).
// A side job, while one is set, is work any band may take a share of before its own (the inputs
// read ahead): every band calls it before f, so that work the bands share out as they go (chunks
// of rows taken by whichever band is free) evens out what the side job left uneven; run returns
// once every call has returned.
#ifndef HARNIX_AVERAGING_BAND_TEAM_H_
#define HARNIX_AVERAGING_BAND_TEAM_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace harnix {

// Most bands a team has.
constexpr int32_t MAX_BANDS = 256;

class BandTeam {
 public:
  // Starts bands - 1 helper threads (bands clamped to 1 .. MAX_BANDS). A helper that cannot be
  // started leaves the team with the bands started so far: the team never fails, it only
  // shrinks, and what a pass computes does not change.
  explicit BandTeam(int32_t bands);
  ~BandTeam();  // stops and joins the helpers
  BandTeam(const BandTeam&) = delete;
  BandTeam& operator=(const BandTeam&) = delete;

  int32_t bands() const { return bands_; }

  // Calls f(band) for band = 0 .. bands() - 1 and returns when all have returned. f must not
  // throw; run is called from one thread at a time.
  template <typename F>
  void run(F& f) {
    run_erased(&f, [](void* job, int32_t band) { (*static_cast<F*>(job))(band); });
  }

  // From the next run on, every band calls side(band) before its share, until clear_side_job.
  // Both are called between runs, by the thread that calls run; `side` must outlive its use
  // and must not throw.
  template <typename F>
  void set_side_job(F& side) {
    side_job_ = &side;
    side_call_ = [](void* job, int32_t band) { (*static_cast<F*>(job))(band); };
  }
  void clear_side_job() {
    side_job_ = nullptr;
    side_call_ = nullptr;
  }

 private:
  using Call = void (*)(void* job, int32_t band);
  void call_side(int32_t band) {
    if (side_call_ != nullptr) side_call_(side_job_, band);
  }
  void run_erased(void* job, Call call);
  void serve(int32_t band);

  int32_t bands_ = 1;
  void* job_ = nullptr;
  Call call_ = nullptr;
  void* side_job_ = nullptr;
  Call side_call_ = nullptr;
  std::atomic<uint32_t> generation_{0};  // raised for every pass, and once more to stop
  std::atomic<int32_t> pending_{0};      // helper bands of the pass not yet done
  bool stopping_ = false;
  std::mutex mutex_;              // with the two below, for waits past the spin
  std::condition_variable work_;  // a pass has begun, or the team stops
  std::condition_variable done_;  // the last helper band of a pass is done
  std::vector<std::thread> helpers_;
};

// Rows [first, first + count) of band `band` when `rows` rows are cut into `bands` bands of
// nearly equal size, in order.
struct RowRange {
  int32_t first;
  int32_t count;
};
RowRange band_rows(int32_t rows, int32_t bands, int32_t band);

// Runs f(band, first, count) on every band of `team`, [first, first + count) being the elements
// of the band's rows in a field `width` elements wide and `height` rows high, stored row after
// row.
template <typename F>
void run_on_band_elements(BandTeam& team, int32_t width, int32_t height, F f) {
  auto band_elements = [&](int32_t band) {
    const RowRange rows = band_rows(height, team.bands(), band);
    f(band, std::size_t(rows.first) * std::size_t(width),
      std::size_t(rows.count) * std::size_t(width));
  };
  team.run(band_elements);
}

// Threads the process may run on at the same time: the processors of its affinity mask, or the
// machine's hardware threads when the mask cannot be read; at least 1.
int32_t usable_cores();

}  // namespace harnix

#endif  // HARNIX_AVERAGING_BAND_TEAM_H_
