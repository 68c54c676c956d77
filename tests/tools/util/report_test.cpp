// harnix-util report: the page parsed as XML and searched for every section, image and table;
// hostile names and comments shown as text; bad files and CSVs refused without a page; and the
// page opened in headless Chromium (label `browser`).
#include <cairo.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;

// The names of the files the page must show as text.
const std::string HOSTILE_NAME = "<img src=x onerror=alert(1)>&'\".dat";
const char HOSTILE_COMMENT[] = "</p><script>alert(1)</script><p>";
const std::string HOSTILE_CELL = "<script>alert(\"x\")</script>";

std::string decode_base64(const std::string& text) {
  static const std::string DIGITS =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int held = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = bits << 6 | static_cast<uint32_t>(DIGITS.find(c));
    if ((held += 6) >= 8) out += static_cast<char>(bits >> (held -= 8) & 0xFF);
  }
  return out;
}

// Width and height of a PNG held in memory, or {0, 0} when it does not decode.
std::pair<int, int> png_size(const std::string& png) {
  struct Reader {
    const std::string* bytes;
    std::size_t at;
  } reader{&png, 0};
  auto read = [](void* closure, unsigned char* data, unsigned int length) {
    auto* r = static_cast<Reader*>(closure);
    if (r->at + length > r->bytes->size()) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, r->bytes->data() + r->at, length);
    r->at += length;
    return CAIRO_STATUS_SUCCESS;
  };
  cairo_surface_t* s = cairo_image_surface_create_from_png_stream(read, &reader);
  std::pair<int, int> size{0, 0};
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS)
    size = {cairo_image_surface_get_width(s), cairo_image_surface_get_height(s)};
  cairo_surface_destroy(s);
  return size;
}

// The page parsed by libxml2's strict XML parser, searched by XPath.
class Page {
 public:
  explicit Page(const std::string& text)
      : doc_(xmlReadMemory(text.data(), static_cast<int>(text.size()), "report.html", "UTF-8",
                           XML_PARSE_NONET),
             xmlFreeDoc) {
    if (doc_) context_.reset(xmlXPathNewContext(doc_.get()));
  }
  bool parsed() const { return doc_ != nullptr; }

  std::vector<xmlNodePtr> nodes(const std::string& path) const {
    std::vector<xmlNodePtr> found;
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> r(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path.c_str()), context_.get()),
        xmlXPathFreeObject);
    if (r && r->nodesetval != nullptr)
      for (int i = 0; i < r->nodesetval->nodeNr; ++i) found.push_back(r->nodesetval->nodeTab[i]);
    return found;
  }
  std::size_t count(const std::string& path) const { return nodes(path).size(); }
  std::string text(const std::string& path) const {
    const std::vector<xmlNodePtr> n = nodes(path);
    if (n.empty()) return "(no " + path + ")";
    xmlChar* t = xmlNodeGetContent(n[0]);
    std::string s = reinterpret_cast<const char*>(t);
    xmlFree(t);
    return s;
  }

 private:
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc_;
  std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context_{nullptr,
                                                                            xmlXPathFreeContext};
};

// Five result files of one run (average, deviation, count, rejected, and one of unknown kind under
// a hostile name and comment) and a per-input report with a hostile, a quoted and an empty row.
class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* comments[] = {"Height average map computed from 3 input data files",
                              "Height standard deviation map computed from 3 input data files",
                              "Input count map computed from 3 input data files",
                              "Rejected value count map computed from 3 input data files",
                              HOSTILE_COMMENT};
    const std::string names[] = {"avg.dat", "sdev.dat", "count.dat", "rejected.dat", HOSTILE_NAME};
    for (int k = 0; k < 5; ++k) {
      TestMap map{{2, 1, 40, 30}, {}};
      for (int i = 0; i < 40 * 30; ++i) {
        const int x = i % 40, y = i / 40;
        const int32_t values[] = {x * 300 + y * 200 + (x - 20) * (x - 20) * 40, (i * 37) % 5000,
                                  1 + i % 3, i % 2, x};
        map.values.push_back(i < 3 ? PHASE_INVALID : values[k]);
      }
      DataAttributes a = measurement_attributes();
      std::strcpy(a.comment, comments[k]);
      write_planoryx(dir.file(names[k]), a, map);
      results.push_back(dir.file(names[k]));
      if (k == 1) deviation = std::vector<int32_t>(map.values.begin() + 3, map.values.end());
    }
    dir.write("inputs.csv",
              "index,file,valid_pixels,rejected_pixels,compared_pixels,mean_diff_m,tilt_x,tilt_y,"
              "rms_diff_m,outlier\r\n"
              "1,a.dat,1197,0,1197,1e-9,2e-6,-1e-6,3e-9,no\r\n"
              "2,\"" +
                  std::string("<script>alert(\"\"x\"\")</script>") +
                  "\",1197,4,1197,5e-9,0,0,2.5e-8,yes\r\n"
                  "3,\"b,\r\nc.dat\",0,0,0,,,,,no\r\n");
  }

  ProgramResult report(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"report", "-o", dir.file("report.html")};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_util(args);
  }

  TempDir dir;
  std::vector<std::string> results;
  std::vector<int32_t> deviation;  // the valid values of sdev.dat
};

TEST_F(Report, PageHoldsEverySectionImageAndTable) {
  std::vector<std::string> args = {"--level", "plane", "--inputs", dir.file("inputs.csv")};
  args.insert(args.end(), results.begin(), results.end());
  ProgramResult r = report(args);
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.out + r.err);
  const std::string html = read_all(dir.file("report.html"));
  Page page(html);
  ASSERT_TRUE(page.parsed()) << "not well-formed";

  EXPECT_EQ("3", page.text("//section[@id='summary']//tr[th='Input measurements']/td"));
  EXPECT_EQ(0u, page.count("//section[@id='summary']/p[@class='warning']"));
  EXPECT_EQ(1u, page.count("//section[@id='summary']/table[@class='facts']"));
  const char* kinds[] = {"average", "deviation", "count", "rejected", "other"};
  for (int k = 0; k < 5; ++k) {
    const std::string section = "//section[@id='result-" + std::to_string(k + 1) + "']";
    EXPECT_EQ(std::string("result ") + kinds[k], page.text(section + "/@class"));
    // One preview each, a PNG inside the page of the size its attributes state.
    ASSERT_EQ(1u, page.count(section + "//img")) << kinds[k];
    const std::string src = page.text(section + "//img/@src");
    ASSERT_EQ(0u, src.find("data:image/png;base64,")) << kinds[k];
    const auto [w, h] = png_size(decode_base64(src.substr(src.find(',') + 1)));
    EXPECT_EQ(page.text(section + "//img/@width"), std::to_string(w)) << kinds[k];
    EXPECT_EQ(page.text(section + "//img/@height"), std::to_string(h)) << kinds[k];
    EXPECT_GT(w, 480) << kinds[k];
    // Histograms of the average and the deviation only, with both axes titled.
    const bool histogram = k < 2;
    EXPECT_EQ(histogram ? 1u : 0u, page.count(section + "//figure[@class='histogram']/svg"));
    if (histogram) {
      EXPECT_EQ(k == 0 ? "Height (nm)" : "Standard deviation (nm)",
                page.text(section + "//text[@class='x-title']"));
      EXPECT_EQ("Pixels", page.text(section + "//text[@class='y-title']"));
    }
  }
  EXPECT_EQ(5u, page.count("//section[starts-with(@class, 'result')]"));

  // The average's parameters agree with info's, levelled alike.
  EXPECT_EQ(7u, page.count("//table[@class='parameters']/tbody/tr"));
  ProgramResult info = run_util({"info", "--json", "--level", "plane", results[0]});
  const double sq = nlohmann::json::parse(info.out)["files"][0]["parameters"]["Sq"];
  const std::string sq_text = page.text("//table[@class='parameters']//tr[th='Sq']/td");
  EXPECT_NEAR(sq * 1e9, std::stod(sq_text), sq * 1e9 * 1e-3) << sq_text;

  // The deviation's mean, median and RMS in nm, against a plain computation.
  const double nm = metres_per_count(measurement_attributes()) * 1e9;
  double sum = 0, squares = 0;
  for (int32_t v : deviation) sum += v, squares += double(v) * v;
  std::vector<int32_t> sorted = deviation;
  std::sort(sorted.begin(), sorted.end());
  const double n = static_cast<double>(deviation.size());
  const double median = (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2.0;
  const std::pair<const char*, double> spread[] = {
      {"Mean standard deviation", sum / n * nm},
      {"Median standard deviation", median * nm},
      {"RMS standard deviation", std::sqrt(squares / n) * nm}};
  for (const auto& [label, expected] : spread) {
    const std::string shown =
        page.text("//table[@class='repeatability']//tr[th='" + std::string(label) + "']/td");
    EXPECT_NEAR(expected, std::stod(shown), expected * 1e-3) << label << ": " << shown;
    EXPECT_NE(std::string::npos, shown.find(" nm")) << shown;
  }

  // The per-input table, the outlier highlighted, and one bar per input with a figure.
  EXPECT_EQ(3u, page.count("//table[@class='inputs']/tbody/tr"));
  EXPECT_EQ("2", page.text("//tr[@class='outlier']/td[1]"));
  EXPECT_EQ(2u, page.count("//figure[@class='rms-chart']/svg/g[@class='bars']/rect"));
  EXPECT_EQ("RMS difference (nm)",
            page.text("//figure[@class='rms-chart']//text[@class='y-title']"));

  // Hostile texts are text: shown whole, making no element and no attribute.
  EXPECT_EQ(dir.file(HOSTILE_NAME), page.text("//section[@id='result-5']/h2/span"));
  EXPECT_EQ(HOSTILE_COMMENT, page.text("//section[@id='result-5']/p[@class='comment']"));
  EXPECT_EQ(HOSTILE_CELL, page.text("//tr[@class='outlier']/td[2]"));
  // The quoted line break is kept in the cell and shown as blanks.
  EXPECT_EQ("b,  c.dat", page.text("//table[@class='inputs']/tbody/tr[3]/td[2]"));
  EXPECT_EQ(0u,
            page.count("//script | //img[@onerror] | //*[@src][not(starts-with(@src, 'data:'))]"));
  EXPECT_EQ(std::string::npos, html.find("<script")) << "a script element in the page";
}

// The run's record states the settings in the summary and what the deviation map means; without
// it the page does not call the deviation the instrument's repeatability. A record that is not
// one is refused.
TEST_F(Report, RunRecordNamesWhatTheDeviationMeans) {
  const std::string record =
      R"({"program": "Harnix", "version": "5.0", "started": "2026-01-02T03:04:05.006Z",
          "ended": "2026-01-02T03:04:07.000Z", "result": {"ok": true},
          "settings": {"AvgOut": "avg.dat", "MinValidCnt": 3, "SdevRemove": "Plane",
                       "Reject": null, "Threads": 2, "Verbose": false}})";
  dir.write("run.json", record);
  // A refused run, not levelled: its error stands for the file it names none of.
  std::string refused = record;
  refused.replace(refused.find(R"({"ok": true})"), 12,
                  R"({"ok": false, "failed_at": "check inputs", "file": null, "detail": "No input"})");
  refused.replace(refused.find(R"("Reject")"), 0, R"("Level": "None", )");
  dir.write("refused.json", refused);
  dir.write("bad.json", "{\"settings\": 1");
  const struct {
    std::vector<std::string> run;
    const char* meaning;  // found in the deviation's meaning
    const char* setting;  // the summary's SdevRemove row, or "" for none
    const char* found;    // anywhere in the page
  } cases[] = {
      {{"--run", dir.file("run.json")}, "least-squares plane was removed", "Plane", "succeeded"},
      {{"--run", dir.file("refused.json")}, "not part of it. Its RMS", "Plane",
       "failed at check inputs: No input"},
      {{}, "Without the run's record (--run)", "", ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.run;
    args.push_back(results[1]);
    ASSERT_EQ(0, report(args).status);
    const std::string html = read_all(dir.file("report.html"));
    Page page(html);
    ASSERT_TRUE(page.parsed());
    EXPECT_NE(std::string::npos, page.text("//p[@class='meaning']").find(c.meaning))
        << page.text("//p[@class='meaning']");
    const std::string row = "//section[@id='summary']//tr[th='SdevRemove']/td";
    EXPECT_EQ(*c.setting ? c.setting : "(no " + row + ")", page.text(row));
    EXPECT_EQ(c.run.empty() ? 0u : 1u, page.count("//tr[th='MinValidCnt'][td='3']"));
    EXPECT_EQ(0u, page.count("//tr[th='AvgOut'] | //tr[th='Verbose']")) << "files and console";
    EXPECT_EQ(c.run.empty(), html.find("repeatability of") == std::string::npos);
    EXPECT_NE(std::string::npos, html.find(c.found)) << c.found;
    EXPECT_EQ(std::string::npos, html.find("levelled (")) << "no levelling to tell of";
  }
  const ProgramResult bad = report({"--run", dir.file("bad.json"), results[1]});
  EXPECT_EQ(1, bad.status);
  EXPECT_NE(std::string::npos, bad.err.find("is not a run record")) << bad.err;
}

// Files with nothing to draw, or no height scale, still get their sections, saying so; files of
// different runs are named as such.
TEST_F(Report, FilesWithoutAPictureOrScaleStillMakeAPage) {
  DataAttributes a = measurement_attributes();
  std::vector<uint16_t> plane(6, 1);
  IntensityMap intensity{6, {0, 0, 3, 2}, 1, 0, plane.data()};
  ASSERT_EQ(NO_ERROR,
            write_data_file(dir.file("nophase.dat").c_str(), nullptr, &a, &intensity, nullptr));
  TestMap dropouts{{0, 0, 2, 1}, {PHASE_INVALID, PHASE_INVALID}};
  write_planoryx(dir.file("drop.dat"), a, dropouts);
  a.IntfScaleFactor = 0;
  a.TimeStamp += 60;
  TestMap counts{{0, 0, 3, 2}, {1, 2, 3, 4, 5, 6}};
  write_planoryx(dir.file("noscale.dat"), a, counts);
  ASSERT_EQ(
      0, report({dir.file("nophase.dat"), dir.file("drop.dat"), dir.file("noscale.dat")}).status);
  Page page(read_all(dir.file("report.html")));
  ASSERT_TRUE(page.parsed());
  EXPECT_EQ("This file holds no phase map.",
            page.text("//section[@id='result-1']/p[@class='warning']"));
  EXPECT_EQ("This file holds no valid points.",
            page.text("//section[@id='result-2']/p[@class='warning']"));
  EXPECT_EQ(1u, page.count("//img"));
  EXPECT_EQ(0u, page.count("//table[@class='parameters']"));
  EXPECT_EQ(0u, page.text("//section[@id='summary']/p[@class='warning']")
                    .find("The result files differ in time stamp:"));
}

// The extremes, range and uncertainty maps, and the median as the average, are told by their
// comments and named in the summary.
TEST_F(Report, EveryResultKindIsNamedByItsComment) {
  const struct {
    const char* comment;
    const char* kind;
    const char* named;
  } kinds[] = {
      {"Height minimum map computed from 3 input data files", "minimum", "height minimum"},
      {"Height maximum map computed from 3 input data files", "maximum", "height maximum"},
      {"Height range map computed from 3 input data files", "range", "height range"},
      {"Height uncertainty map computed from 3 input data files", "uncertainty",
       "uncertainty of the height average"},
      {"Height standard deviation map (n - 1) computed from 3 input data files", "deviation",
       "height standard deviation"},
      {"Height average map (median) computed from 3 input data files", "average", "height median"},
      {"Height average map computed from 3 input data files", "average", "height average"},
  };
  std::vector<std::string> args;
  std::string files;
  for (const auto& k : kinds) {
    DataAttributes a = measurement_attributes();
    std::strcpy(a.comment, k.comment);
    const std::string name = std::string(k.kind) + std::to_string(args.size()) + ".dat";
    TestMap map{{0, 0, 3, 2}, {1, 2, 3, 4, 5, 6}};
    write_planoryx(dir.file(name), a, map);
    args.push_back(dir.file(name));
    files += (files.empty() ? "" : ", ") + name + " (" + k.named + ")";
  }
  ASSERT_EQ(0, report(args).status);
  Page page(read_all(dir.file("report.html")));
  ASSERT_TRUE(page.parsed());
  for (std::size_t i = 0; i < std::size(kinds); ++i)
    EXPECT_EQ(std::string("result ") + kinds[i].kind,
              page.text("//section[@id='result-" + std::to_string(i + 1) + "']/@class"));
  EXPECT_EQ(files, page.text("//section[@id='summary']//tr[th='Result files']/td"));
}

// A bad CSV (or result file) gives one line and status 1, and the page already there survives.
TEST_F(Report, BadInputsLeaveThePageAsItWas) {
  const std::string header =
      "index,file,valid_pixels,rejected_pixels,compared_pixels,mean_diff_m,tilt_x,tilt_y,"
      "rms_diff_m,outlier\n";
  struct Case {
    std::string csv;  // the --inputs file's bytes
    const char* says;
  } cases[] = {
      {"", "is empty"},
      {"index,file\n1,a\n", "line 1: not the header"},
      {header + "1,a,1,2,3,4,5,6,7\n", "line 2: 9 fields, not 10"},
      {header + "1,\"a,1,2,3,4,5,6,7,no\n", "line 2: a quoted field is not closed"},
      {header + "1,\"a\"b,1,2,3,4,5,6,7,no\n", "text after a closing quote"},
      {header + "1,a\"b,1,2,3,4,5,6,7,no\n", "a quote inside an unquoted field"},
      {header + "1,\"x\ny\",1,2,3,4,5,6,7,no\n2,a,1.5,2,3,4,5,6,7,no\n",
       "line 4: valid_pixels \"1.5\" is not a whole number"},
      {header + "1,a,1,2,3,4,5,6,nan,no\n", "rms_diff_m \"nan\" is not a finite number"},
      {header + "1,a,1,2,3,4,5,6,-7,no\n", "rms_diff_m \"-7\" is negative"},
      {header + ",a,1,2,3,4,5,6,7,no\n", "index \"\" is not a whole number"},
      {header + "1,a,1,2,3,4,5,6,7,maybe\n", "outlier \"maybe\" is neither yes nor no"},
  };
  dir.write("report.html", "keep me");
  for (const Case& c : cases) {
    dir.write("bad.csv", c.csv);
    ProgramResult r = report({"--inputs", dir.file("bad.csv"), results[0]});
    EXPECT_EQ(1, r.status) << c.says;
    EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.says)) << r.err;
  }
  TestMap tiny{{0, 0, 3, 2}, {1, 2, 3, 4, 5, PHASE_INVALID}};  // 5 points for 6 cylinder terms
  DataAttributes a = measurement_attributes();
  std::strcpy(a.comment, "Height average map computed from 2 input data files");
  write_planoryx(dir.file("tiny.dat"), a, tiny);
  struct Args {
    std::vector<std::string> args;
    std::string says;
  } bad_args[] = {
      {{"--inputs", dir.file("none.csv"), results[0]}, "cannot be opened"},
      {{results[0], dir.file("none.dat")}, "none.dat\" cannot be opened"},
      {{dir.file("inputs.csv")}, "is not a Planoryx data file"},
      {{"--level", "cylinder", dir.file("tiny.dat")}, "cannot be levelled by cylinder"},
      {{"--level", "tilt", results[0]}, "unknown --level \"tilt\""},
      {{"--colour", results[0]}, "unknown option \"--colour\""},
      {{}, "no result file given"},
  };
  for (const Args& a : bad_args) {
    ProgramResult r = report(a.args);
    EXPECT_EQ(1, r.status) << a.says;
    EXPECT_EQ(0u, r.err.find("harnix-util report: ")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(a.says)) << r.err;
  }
  EXPECT_EQ("keep me", read_all(dir.file("report.html")));
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(std::string::npos, e.path().string().find(".tmp-")) << e.path();
}

// Chromium from the PATH, or "" when there is none.
std::string find_chromium() {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', at), dirs.size());
    const std::string candidate = dirs.substr(at, end - at) + "/chromium";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

class ReportBrowser : public Report {};

// The page in a real browser: it loads with no console message (no blocked fetch, no script, no
// policy violation), its DOM holds every section, and its screenshot shows the pictures.
TEST_F(ReportBrowser, RendersInHeadlessChromiumWithoutConsoleMessages) {
  const std::string chromium = find_chromium();
  ASSERT_NE("", chromium) << "chromium not found on the PATH (tools/install-deps.sh installs it)";
  std::vector<std::string> args = {"--level", "plane", "--inputs", dir.file("inputs.csv")};
  args.insert(args.end(), results.begin(), results.end());
  ASSERT_EQ(0, report(args).status);
  constexpr int WIDTH = 1200, HEIGHT = 1600;
  ProgramResult r =
      run_program("/usr/bin/timeout",
                  {"120", chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                   "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                   "--user-data-dir=" + dir.file("profile"), "--screenshot=" + dir.file("shot.png"),
                   "--window-size=" + std::to_string(WIDTH) + "," + std::to_string(HEIGHT),
                   "--virtual-time-budget=5000", "--enable-logging=stderr", "--v=0", "--dump-dom",
                   "file://" + dir.file("report.html")});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find(":CONSOLE")) << r.err;
  for (const char* id : {"summary", "result-1", "result-5", "inputs"})
    EXPECT_NE(std::string::npos, r.out.find(std::string("id=\"") + id + "\"")) << id;
  EXPECT_EQ(std::string::npos, r.out.find("<script")) << "the browser made a script element";

  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> shot(
      cairo_image_surface_create_from_png(dir.file("shot.png").c_str()), cairo_surface_destroy);
  ASSERT_EQ(CAIRO_STATUS_SUCCESS, cairo_surface_status(shot.get()));
  const int w = cairo_image_surface_get_width(shot.get());
  const int h = cairo_image_surface_get_height(shot.get());
  EXPECT_EQ(WIDTH, w);
  EXPECT_EQ(HEIGHT, h);
  // Text makes grey pixels and the previews coloured ones (viridis and the magenta of dropouts).
  const unsigned char* data = cairo_image_surface_get_data(shot.get());
  const int stride = cairo_image_surface_get_stride(shot.get());
  int64_t inked = 0, coloured = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p;
      std::memcpy(&p, data + static_cast<std::ptrdiff_t>(y) * stride + 4 * x, sizeof p);
      const int c[] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
      inked += c[0] + c[1] + c[2] < 600;
      coloured += *std::max_element(c, c + 3) - *std::min_element(c, c + 3) > 80;
    }
  const double pixels = double(w) * h;
  EXPECT_GT(inked / pixels, 0.05) << "a blank page";
  EXPECT_GT(coloured / pixels, 0.05) << "no preview drawn";
}

}  // namespace

}  // namespace harnix
