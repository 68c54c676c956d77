#include "maps/storage.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "base/allocation.h"
#include "base/platform.h"

namespace harnix {

ErrorCode element_count(int32_t width, int32_t height, int32_t planes, uint32_t* n) {
  *n = 0;
  if (width <= 0 || height <= 0 || planes <= 0) return ERR_PARAM_OUT_OF_RANGE;
  // Three factors below 2^31 each: the first product fits in 62 bits, and is checked before the
  // second is formed.
  const uint64_t area = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (area > UINT32_MAX / static_cast<uint64_t>(planes)) return ERR_PARAM_OUT_OF_RANGE;
  *n = static_cast<uint32_t>(area * static_cast<uint64_t>(planes));
  return NO_ERROR;
}

namespace {

// Storage from this size on is offered large pages: the standard allocation starts it on a 2 MiB
// boundary, so that it holds at least one whole large page.
constexpr std::size_t LARGE_PAGE_MAP_BYTES = std::size_t{2} << 20;

// Obtains n elements of T through the hooks, or nullptr when the byte count cannot be formed or
// the hook fails.
template <typename T>
T* allocate_elements(uint32_t n) {
  if (n > SIZE_MAX / sizeof(T)) return nullptr;
  return static_cast<T*>(mem_allocate(static_cast<std::size_t>(n) * sizeof(T)));
}

template <typename Map>
void release_storage(Map& m) {
  mem_release(m.matrix);
  m.matrix = nullptr;
  m.size = 0;
}

// Allocates the record's storage for n elements; on failure size 0 and matrix nullptr.
template <typename Map>
ErrorCode alloc_storage(Map& m, uint32_t n) {
  using Element = std::remove_pointer_t<decltype(m.matrix)>;
  release_storage(m);
  m.matrix = allocate_elements<Element>(n);
  if (m.matrix == nullptr) return ERR_NO_MEM;
  // Maps this large are swept whole, input after input.
  const std::size_t bytes = std::size_t(n) * sizeof(Element);
  if (bytes >= LARGE_PAGE_MAP_BYTES) advise_large_pages(m.matrix, bytes);
  m.size = n;
  return NO_ERROR;
}

template <typename Map>
void free_map(Map& m) {
  release_storage(m);
  m.window.width = 0;
  m.window.height = 0;
}

// Number of elements a fill may write: width x height, none for an empty or negative dimension,
// and never more than the storage holds.
template <typename Map>
std::size_t fill_count(const Map& m) {
  uint32_t n = 0;
  if (m.matrix == nullptr || element_count(m.window.width, m.window.height, 1, &n) != NO_ERROR) {
    return 0;
  }
  return std::min(n, m.size);
}

template <typename Map>
bool holds_window(const Map& m) {
  uint32_t n = 0;
  return m.matrix != nullptr && element_count(m.window.width, m.window.height, 1, &n) == NO_ERROR &&
         n <= m.size;
}

template <typename Map>
std::ptrdiff_t offset_of(const Map& m, int px, int py) {
  return (static_cast<std::ptrdiff_t>(py) - m.window.y) * m.window.width +
         (static_cast<std::ptrdiff_t>(px) - m.window.x);
}

}  // namespace

void map_init(PhaseMap& m) {
  m = PhaseMap{};
}
void map_init(RealMap& m) {
  m = RealMap{};
}
void map_init(CountMap& m) {
  m = CountMap{};
}
void map_init(IntensityMap& m) {
  m = IntensityMap{};
}

ErrorCode map_alloc(PhaseMap& m) {
  uint32_t n = 0;
  ErrorCode rc = element_count(m.window.width, m.window.height, 1, &n);
  if (rc != NO_ERROR) return rc;
  return alloc_storage(m, n);
}

ErrorCode map_alloc(RealMap& m) {
  uint32_t n = 0;
  ErrorCode rc = element_count(m.window.width, m.window.height, 1, &n);
  if (rc != NO_ERROR) return rc;
  return alloc_storage(m, n);
}

ErrorCode map_alloc(CountMap& m) {
  uint32_t n = 0;
  ErrorCode rc = element_count(m.window.width, m.window.height, 1, &n);
  if (rc != NO_ERROR) return rc;
  rc = alloc_storage(m, n);
  if (rc != NO_ERROR) {
    m.window.width = 0;
    m.window.height = 0;
  }
  return rc;
}

ErrorCode map_alloc(IntensityMap& m) {
  uint32_t n = 0;
  ErrorCode rc = element_count(m.window.width, m.window.height, m.n_buckets, &n);
  if (rc != NO_ERROR) return rc;
  rc = alloc_storage(m, n);
  if (rc != NO_ERROR) {
    m.window.width = 0;
    m.window.height = 0;
    m.n_buckets = 0;
  }
  return rc;
}

void map_free(PhaseMap& m) {
  free_map(m);
}
void map_free(RealMap& m) {
  free_map(m);
}
void map_free(CountMap& m) {
  free_map(m);
}
void map_free(IntensityMap& m) {
  free_map(m);
  m.n_buckets = 0;
}

ErrorCode array_alloc(FloatPairArray& a) {
  uint32_t n = 0;
  ErrorCode rc = element_count(a.count, 1, 1, &n);
  if (rc != NO_ERROR) return rc;
  mem_release(a.data);
  a.size = 0;
  a.data = allocate_elements<FloatPair>(n);
  if (a.data == nullptr) return ERR_NO_MEM;
  a.size = n;
  return NO_ERROR;
}

void array_free(FloatPairArray& a) {
  mem_release(a.data);
  a.data = nullptr;
  a.size = 0;
  a.count = 0;
}

ErrorCode map_resize(PhaseMap& m, const Window& w, const ResizeOptions& options) {
  if (w.width < 0 || w.height < 0) return ERR_PARAM_OUT_OF_RANGE;
  if (m.matrix == nullptr) m.size = 0;
  uint32_t n = 0;
  if (element_count(w.width, w.height, 1, &n) != NO_ERROR) {
    release_storage(m);  // an empty window: no storage, window as it was
    return NO_ERROR;
  }
  if (n > m.size || (n < m.size && !options.reuse_larger)) {
    ErrorCode rc = alloc_storage(m, n);
    if (rc != NO_ERROR) return rc;
  }
  m.window = w;
  return NO_ERROR;
}

bool map_holds_window(const PhaseMap& m) {
  return holds_window(m);
}
bool map_holds_window(const RealMap& m) {
  return holds_window(m);
}
bool map_holds_window(const CountMap& m) {
  return holds_window(m);
}

void map_fill(PhaseMap& m, int32_t value) {
  std::fill_n(m.matrix, fill_count(m), value);
}
void map_fill(RealMap& m, double value) {
  std::fill_n(m.matrix, fill_count(m), value);
}
void map_fill(CountMap& m, int16_t value) {
  std::fill_n(m.matrix, fill_count(m), value);
}

int32_t* map_point(const PhaseMap& m, int px, int py) {
  return m.matrix + offset_of(m, px, py);
}
int16_t* map_point(const CountMap& m, int px, int py) {
  return m.matrix + offset_of(m, px, py);
}

}  // namespace harnix
