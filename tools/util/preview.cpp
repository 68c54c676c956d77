// Figure geometry scales with the body font size f, itself 1/40 of the drawn map's longer side
// (13 to 60 pixels), so a 640 x 480 map gets 16-pixel text and a 2048 x 2048 one 51-pixel text
// that stays legible when a viewer shrinks the figure to the screen. The map's pixels are
// written straight into an image surface (no resampling filter), so every drawn pixel has
// exactly its map pixel's palette colour; cairo draws the text, the colour bar and the frames.
#include "util/preview.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "util/colour_bar.h"

namespace harnix {

namespace {

constexpr const char* kFontFamily = "DejaVu Sans";
constexpr int kDefaultMinPixels = 480;
constexpr int kDefaultMaxPixels = 2048;
constexpr double kFontPerPixel = 1.0 / 40.0;
constexpr double kMinFont = 13.0;
constexpr double kMaxFont = 60.0;
// Wide enough for a caption of about forty characters however narrow the map is.
constexpr double kMinFigureWidthInFonts = 22.0;
constexpr double kLineAdvance = 1.4;

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

struct Size {
  int width;
  int height;
};

Size drawn_size(const Window& w, int map_pixels) {
  const int longer = std::max(w.width, w.height);
  double factor = 1;
  if (map_pixels > 0) {
    factor = map_pixels / static_cast<double>(longer);
  } else if (longer < kDefaultMinPixels) {
    factor = std::ceil(kDefaultMinPixels / static_cast<double>(longer));
  } else if (longer > kDefaultMaxPixels) {
    factor = kDefaultMaxPixels / static_cast<double>(longer);
  }
  return {std::max(1, static_cast<int>(std::lround(w.width * factor))),
          std::max(1, static_cast<int>(std::lround(w.height * factor)))};
}

uint32_t pixel_value(Rgb c) {
  return (static_cast<uint32_t>(c.r) << 16) | (static_cast<uint32_t>(c.g) << 8) | c.b;
}

// Drawn pixel i of n shows map pixel floor((i + 1/2) * m / n): the one under its centre.
int source_index(int i, int n, int m) {
  return static_cast<int>(((2 * static_cast<int64_t>(i) + 1) * m) / (2 * static_cast<int64_t>(n)));
}

Surface map_image(const PreviewInput& in, Size size, const Rgb* palette) {
  Surface s(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return s;
  cairo_surface_flush(s.get());
  unsigned char* data = cairo_image_surface_get_data(s.get());
  const int stride = cairo_image_surface_get_stride(s.get());
  const int w = in.map->window.width;
  const int h = in.map->window.height;
  std::vector<int> columns(static_cast<std::size_t>(size.width));
  for (int x = 0; x < size.width; ++x)
    columns[static_cast<std::size_t>(x)] = source_index(x, size.width, w);
  const uint32_t invalid = pixel_value(INVALID_COLOUR);
  for (int y = 0; y < size.height; ++y) {
    const std::size_t first =
        static_cast<std::size_t>(source_index(y, size.height, h)) * static_cast<std::size_t>(w);
    const int32_t* row = in.map->matrix + first;
    const double* levelled_row = in.levelled != nullptr ? in.levelled + first : nullptr;
    unsigned char* out = data + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
    for (int x = 0; x < size.width; ++x) {
      const int column = columns[static_cast<std::size_t>(x)];
      uint32_t p = invalid;
      if (levelled_row != nullptr) {
        const double v = levelled_row[column];
        if (!std::isnan(v)) p = pixel_value(palette[colour_index(v, in.lo, in.hi)]);
      } else if (phase_valid(row[column])) {
        p = pixel_value(palette[colour_index(row[column], in.lo, in.hi)]);
      }
      std::memcpy(out + 4 * static_cast<std::size_t>(x), &p, sizeof p);
    }
  }
  cairo_surface_mark_dirty(s.get());
  return s;
}

void set_font(cairo_t* cr, double size, bool bold) {
  cairo_select_font_face(cr, kFontFamily, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

double text_width(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  return e.x_advance;
}

// `text` shortened at a character boundary, with an ellipsis, until it fits `width`.
std::string fitted(cairo_t* cr, std::string text, double width) {
  if (text_width(cr, text) <= width) return text;
  const std::string ellipsis = "\xE2\x80\xA6";
  while (!text.empty()) {
    // Drop the last character: its continuation bytes, then its first byte.
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
      text.pop_back();
    if (!text.empty()) text.pop_back();
    if (text_width(cr, text + ellipsis) <= width) break;
  }
  return text + ellipsis;
}

void show_text(cairo_t* cr, double x, double baseline, const std::string& text) {
  cairo_move_to(cr, x, baseline);
  cairo_show_text(cr, text.c_str());
}

void fill_rect(cairo_t* cr, double x, double y, double w, double h, Rgb c) {
  cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

// A one-pixel grey frame just outside the rectangle, so that it never covers a map pixel.
void frame_outside(cairo_t* cr, int x, int y, int w, int h) {
  cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, x - 0.5, y - 0.5, w + 1, h + 1);
  cairo_stroke(cr);
}

struct CaptionLine {
  std::string text;
  double size;
  bool bold;
};

cairo_status_t write_to_stream(void* closure, const unsigned char* data, unsigned int length) {
  auto* stream = static_cast<std::FILE*>(closure);
  return std::fwrite(data, 1, length, stream) == length ? CAIRO_STATUS_SUCCESS
                                                        : CAIRO_STATUS_WRITE_ERROR;
}

// cairo calls back from C code, so a failed allocation becomes a write error there and is
// thrown again once cairo has returned.
struct ByteSink {
  std::string* bytes;
  bool out_of_memory;
};

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* sink = static_cast<ByteSink*>(closure);
  try {
    sink->bytes->append(reinterpret_cast<const char*>(data), length);
  } catch (const std::bad_alloc&) {
    sink->out_of_memory = true;
    return CAIRO_STATUS_WRITE_ERROR;
  }
  return CAIRO_STATUS_SUCCESS;
}

bool draw_preview(const PreviewInput& in, cairo_write_func_t write, void* closure,
                  std::string* message) {
  if (in.map == nullptr || in.map->matrix == nullptr || in.map->window.width <= 0 ||
      in.map->window.height <= 0 || !(in.lo < in.hi)) {
    *message = "nothing to draw";
    return false;
  }
  Rgb palette[COLOUR_MAP_ENTRIES];
  colour_map_palette(in.colour_map, palette);
  const Size map = drawn_size(in.map->window, in.map_pixels);
  const double f = std::clamp(std::max(map.width, map.height) * kFontPerPixel, kMinFont, kMaxFont);
  const int pad = static_cast<int>(std::lround(f));

  // Colour bar labels in display units.
  const bool heights = in.metres_per_count > 0;
  DisplayUnit unit{1, "counts"};
  if (heights) unit = height_unit(in.lo * in.metres_per_count, in.hi * in.metres_per_count);
  const double scale = heights ? in.metres_per_count * unit.per_value : 1.0;
  const double lo_shown = in.lo * scale;
  const double hi_shown = in.hi * scale;
  const int wanted = std::clamp(static_cast<int>(map.height / (2.5 * f)), 2, 8);
  const std::vector<Tick> ticks = colour_bar_ticks(lo_shown, hi_shown, wanted, !heights);

  std::vector<CaptionLine> caption = {{in.title, 1.2 * f, true}};
  if (!in.comment.empty()) caption.push_back({in.comment, f, false});
  if (!in.details.empty()) caption.push_back({in.details, 0.85 * f, false});

  // Measure with a scratch context before the figure's size is known.
  Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
  Context measure(cairo_create(scratch.get()));
  set_font(measure.get(), 0.85 * f, false);
  double label_width = 0;
  for (const Tick& t : ticks)
    label_width = std::max(label_width, text_width(measure.get(), t.label));
  set_font(measure.get(), f, false);
  const double unit_width = text_width(measure.get(), unit.name);

  double y = pad;
  for (const CaptionLine& line : caption) y += kLineAdvance * line.size;
  const int map_x = pad;
  const int map_y = static_cast<int>(std::lround(y + 1.4 * f));  // room for the unit above the bar
  const int bar_x = map_x + map.width + static_cast<int>(std::lround(f));
  const int bar_w = static_cast<int>(std::lround(1.1 * f));
  const int tick_len = static_cast<int>(std::lround(0.35 * f));
  const int label_x = bar_x + bar_w + tick_len + static_cast<int>(std::lround(0.3 * f));
  const double right = std::max(label_x + label_width, bar_x + unit_width);
  const int footer_y = map_y + map.height + static_cast<int>(std::lround(0.7 * f));
  const int width = std::max(static_cast<int>(std::ceil(right)) + pad,
                             static_cast<int>(kMinFigureWidthInFonts * f));
  const int height = footer_y + static_cast<int>(std::lround(f)) + pad;
  const double text_room = width - 2.0 * pad;

  Surface figure(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  Surface image = map_image(in, map, palette);
  Context cr(cairo_create(figure.get()));
  cairo_t* c = cr.get();
  cairo_set_source_rgb(c, 1, 1, 1);
  cairo_paint(c);

  // Caption.
  cairo_set_source_rgb(c, 0, 0, 0);
  y = pad;
  for (const CaptionLine& line : caption) {
    set_font(c, line.size, line.bold);
    show_text(c, pad, y + 0.95 * line.size, fitted(c, line.text, text_room));
    y += kLineAdvance * line.size;
  }

  // The map, pixel for pixel.
  cairo_set_source_surface(c, image.get(), map_x, map_y);
  cairo_rectangle(c, map_x, map_y, map.width, map.height);
  cairo_fill(c);
  frame_outside(c, map_x, map_y, map.width, map.height);

  // Colour bar: each row shows the colour of the value at its centre, top = hi.
  cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
  for (int row = 0; row < map.height; ++row) {
    const double v = in.hi - (row + 0.5) / map.height * (in.hi - in.lo);
    fill_rect(c, bar_x, map_y + row, bar_w, 1, palette[colour_index(v, in.lo, in.hi)]);
  }
  cairo_set_antialias(c, CAIRO_ANTIALIAS_DEFAULT);
  frame_outside(c, bar_x, map_y, bar_w, map.height);

  cairo_set_source_rgb(c, 0, 0, 0);
  set_font(c, 0.85 * f, false);
  cairo_set_line_width(c, std::max(1.0, std::round(0.08 * f)));
  for (const Tick& t : ticks) {
    const double ty = map_y + (hi_shown - t.value) / (hi_shown - lo_shown) * map.height;
    cairo_move_to(c, bar_x + bar_w, ty);
    cairo_line_to(c, bar_x + bar_w + tick_len, ty);
    cairo_stroke(c);
    show_text(c, label_x, ty + 0.3 * f, t.label);
  }
  set_font(c, f, false);
  show_text(c, bar_x, map_y - 0.45 * f, unit.name);

  // Footer: the invalid colour's swatch, then how the colour range was chosen.
  const int swatch = static_cast<int>(std::lround(0.9 * f));
  fill_rect(c, pad, footer_y, swatch, swatch, INVALID_COLOUR);
  frame_outside(c, pad, footer_y, swatch, swatch);
  cairo_set_source_rgb(c, 0, 0, 0);
  set_font(c, 0.85 * f, false);
  const double after_swatch = pad + swatch + 0.4 * f;
  const std::string legend = "invalid    " + in.range_note;
  show_text(c, after_swatch, footer_y + 0.8 * f, fitted(c, legend, width - pad - after_swatch));

  cairo_surface_flush(figure.get());
  cairo_status_t status = cairo_status(c);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(image.get());
  if (status == CAIRO_STATUS_SUCCESS)
    status = cairo_surface_write_to_png_stream(figure.get(), write, closure);
  cr.reset();
  figure.reset();
  image.reset();
  measure.reset();
  scratch.reset();
  if (status != CAIRO_STATUS_SUCCESS) {
    *message = std::string("cannot draw the preview: ") + cairo_status_to_string(status);
    return false;
  }
  return true;
}

}  // namespace

bool write_preview_png(const PreviewInput& in, std::FILE* stream, std::string* message) {
  const bool ok = draw_preview(in, write_to_stream, stream, message);
  release_preview_fonts();
  return ok;
}

bool preview_png_bytes(const PreviewInput& in, std::string* png, std::string* message) {
  ByteSink sink{png, false};
  const bool ok = draw_preview(in, append_bytes, &sink, message);
  if (sink.out_of_memory) throw std::bad_alloc();
  return ok;
}

void release_preview_fonts() {
  cairo_debug_reset_static_data();
  FcFini();
}

}  // namespace harnix
