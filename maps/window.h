// Windows: where a raster lies on the camera field.
//
// A window is four 16-bit signed fields. Its last column is x + width - 1 and its last row
// y + height - 1, formed in 32-bit arithmetic wherever windows are compared, so no comparison
// can overflow. A window of zero width or height has its last column (row) before its first
// and is therefore disjoint from itself, yet one placed within a larger window counts as inside
// it: code that takes a region from a caller checks its width and height as well.
#ifndef HARNIX_MAPS_WINDOW_H_
#define HARNIX_MAPS_WINDOW_H_

#include <cstdint>

namespace harnix {

struct Window {
  int16_t x;       // first column
  int16_t y;       // first row
  int16_t width;   // number of columns
  int16_t height;  // number of rows
};

enum class WindowRelation : int32_t {
  WN_DISJOINT = 1,  // no pixel in common
  WN_EQUAL = 2,     // same first and last column and row
  WN_OVERLAP = 3,   // some pixels in common, neither holds the other
  WN_INSIDE = 4,    // a lies inside b and is not equal to it
  WN_CONTAINS = 5,  // a holds b and is not equal to it
};

// Relation of window a to window b, decided in the order disjoint, equal, inside, contains,
// overlap.
WindowRelation window_relation(const Window& a, const Window& b);

// True when `region` is WN_INSIDE or WN_EQUAL to `outer`: the test every operation that reads a
// region of a map applies before touching it.
bool window_within(const Window& region, const Window& outer);

// Centre column and row: (x + last column) >> 1 with the last column truncated to 16 bits and
// an arithmetic shift (rounds toward minus infinity); the row likewise.
void window_center(const Window& w, int16_t* center_x, int16_t* center_y);

// First column, first row, last column and last row of `w` relative to (cx, cy), in 16-bit
// arithmetic. A negative cx (cy) stands for the window's own centre column (row).
void window_extent_about(const Window& w, int16_t cx, int16_t cy, int16_t* first_col,
                         int16_t* first_row, int16_t* last_col, int16_t* last_row);

}  // namespace harnix

#endif  // HARNIX_MAPS_WINDOW_H_
