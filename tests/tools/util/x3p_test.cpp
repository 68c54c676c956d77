// harnix-util export --format x3p: the archive unpacked with the system's unzip, main.xml checked
// against both schemas with xmllint and by md5sum, and the members read back by code written
// here from the format's description alone.
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "util_files.h"

namespace harnix {

namespace {

using namespace util_test;

// A program of the system, found on PATH as a shell would; empty when absent.
std::string system_tool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(at, end - at) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

ProgramResult run_tool(const std::string& name, const std::vector<std::string>& args,
                       const std::string& cwd = "") {
  const std::string tool = system_tool(name);
  EXPECT_NE("", tool) << name << " is not installed (tools/install-deps.sh installs it)";
  return run_program(tool, args, "", cwd);
}

// The text between <a><b>...<c> and </c>, each tag searched inside the one before.
std::string text_at(const std::string& xml, std::initializer_list<std::string> path) {
  std::size_t begin = 0, end = xml.size();
  for (const std::string& name : path) {
    const std::size_t open = xml.find("<" + name + ">", begin);
    const std::size_t close = xml.find("</" + name + ">", open);
    if (open == std::string::npos || close == std::string::npos || close > end) return "(none)";
    begin = open + name.size() + 2;
    end = close;
  }
  return xml.substr(begin, end - begin);
}

double number_at(const std::string& xml, std::initializer_list<std::string> path) {
  const std::string text = text_at(xml, path);
  double v = std::nan("");
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

// 13 x 7 at camera (5, 9): 91 points, so the validity file ends in a partial byte. Values reach
// both ends of the valid range; every fourth point is invalid, with several marker values.
TestMap windowed_map() {
  TestMap m{{5, 9, 13, 7}, {}};
  for (int i = 0; i < 13 * 7; ++i) {
    int32_t v = (i * 7919 % 2001 - 1000) * 313;
    if (i % 4 == 1) v = i % 8 == 1 ? PHASE_INVALID : 0x7FFFFFFF - i;
    m.values.push_back(v);
  }
  m.values[0] = INT32_MIN;
  m.values[2] = PHASE_INVALID - 1;
  return m;
}

std::string schema(const char* name) {
  return (std::filesystem::path(__FILE__).parent_path() / "x3p_schemas" / name).string();
}

struct Variant {
  const char* name;
  std::vector<std::string> options;
  char data_type;            // 'L' counts with validity file, 'D' float64 with NaN
  bool per_count_increment;  // CZ Increment is metres per count (else 1)
};

class X3pExport : public ::testing::TestWithParam<Variant> {};

TEST_P(X3pExport, ValidatesChecksAndReadsBack) {
  const Variant& v = GetParam();
  TempDir dir;
  TestMap map = windowed_map();
  DataAttributes a = measurement_attributes();
  std::strcpy(a.comment, "a<b & c>d \xEF\xBF\xBF");  // markup, and a character XML cannot hold
  write_planoryx(dir.file("in.dat"), a, map);
  std::vector<std::string> args = {"export", dir.file("in.dat"), "--format", "x3p",
                                   "-o",     dir.file("out.x3p")};
  args.insert(args.end(), v.options.begin(), v.options.end());
  const ProgramResult r = run_util(args);
  ASSERT_EQ(0, r.status) << r.err;

  const bool with_valid = v.data_type == 'L';
  const std::string members =
      with_valid ? "main.xml\nbindata/data.bin\nbindata/valid.bin\nmd5checksum.hex\n"
                 : "main.xml\nbindata/data.bin\nmd5checksum.hex\n";
  EXPECT_EQ(members, run_tool("unzip", {"-Z1", dir.file("out.x3p")}).out);
  ASSERT_EQ(0, run_tool("unzip", {"-q", dir.file("out.x3p"), "-d", dir.file("x")}).status);
  const std::string unpacked = dir.file("x");
  for (const char* xsd : {"iso5436_2.xsd", "iso-25178-72_2017_Amd_1_2020.xsd"}) {
    const ProgramResult lint =
        run_tool("xmllint", {"--noout", "--schema", schema(xsd), unpacked + "/main.xml"});
    EXPECT_EQ(0, lint.status) << xsd << ": " << lint.err;
  }
  EXPECT_EQ(0, run_tool("md5sum", {"-c", "md5checksum.hex"}, unpacked).status);

  const std::string xml = read_all(unpacked + "/main.xml");
  const auto md5_of = [&](const char* member) {
    return run_tool("md5sum", {unpacked + "/" + member}).out.substr(0, 32);
  };
  EXPECT_EQ(md5_of("bindata/data.bin"), text_at(xml, {"Record3", "MD5ChecksumPointData"}));
  EXPECT_EQ(with_valid ? md5_of("bindata/valid.bin") : "(none)",
            text_at(xml, {"Record3", "MD5ChecksumValidPoints"}));

  const double spacing = a.CameraRes;
  EXPECT_EQ("13", text_at(xml, {"MatrixDimension", "SizeX"}));
  EXPECT_EQ("7", text_at(xml, {"MatrixDimension", "SizeY"}));
  EXPECT_DOUBLE_EQ(spacing, number_at(xml, {"CX", "Increment"}));
  EXPECT_DOUBLE_EQ(5 * spacing, number_at(xml, {"CX", "Offset"}));
  EXPECT_DOUBLE_EQ(9 * spacing, number_at(xml, {"CY", "Offset"}));
  EXPECT_EQ(std::string(1, v.data_type), text_at(xml, {"CZ", "DataType"}));
  const double increment = number_at(xml, {"CZ", "Increment"});
  EXPECT_EQ(v.per_count_increment ? metres_per_count(a) : 1.0, increment);
  EXPECT_EQ("2023-11-14T22:13:20Z", text_at(xml, {"Record2", "Date"}));
  EXPECT_EQ(0u, text_at(xml, {"Record2", "Creator"}).find("harnix-util "));
  EXPECT_EQ("NonContacting", text_at(xml, {"ProbingSystem", "Type"}));
  EXPECT_EQ("a&lt;b &amp; c&gt;d ?", text_at(xml, {"Record2", "Comment"}));

  const std::string data = read_all(unpacked + "/bindata/data.bin");
  const std::string valid = read_all(unpacked + "/bindata/valid.bin");
  const std::size_t n = map.values.size();
  ASSERT_EQ(n * (with_valid ? 4 : 8), data.size());
  if (with_valid) {
    ASSERT_EQ((n + 7) / 8, valid.size());
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  double sum = 0, sum_x = 0, sum_y = 0;  // of the levelled values, for the plane check below
  for (std::size_t i = 0; i < n; ++i) {
    const bool expected_valid = map.values[i] < PHASE_INVALID;
    if (with_valid) {
      const uint32_t u = bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 |
                         static_cast<uint32_t>(bytes[4 * i + 3]) << 24;
      const bool bit = (static_cast<unsigned char>(valid[i / 8]) >> (i % 8)) & 1;
      EXPECT_EQ(expected_valid, bit) << "point " << i;
      if (expected_valid) {
        EXPECT_EQ(map.values[i], static_cast<int32_t>(u)) << "point " << i;
      }
      continue;
    }
    uint64_t u = 0;
    for (int b = 7; b >= 0; --b) u = u << 8 | bytes[8 * i + b];
    double z;
    std::memcpy(&z, &u, sizeof z);
    EXPECT_EQ(!expected_valid, std::isnan(z)) << "point " << i;
    if (!expected_valid) continue;
    sum += z;
    sum_x += z * static_cast<double>(i % 13);
    sum_y += z * static_cast<double>(i / 13);
  }
  if (with_valid) {
    EXPECT_EQ(0, static_cast<unsigned char>(valid.back()) >> (n % 8)) << "padding bits";
  } else {
    // Least-squares plane residuals are orthogonal to 1, x and y.
    const double scale = 1000 * 313 * metres_per_count(a) * static_cast<double>(n);
    EXPECT_NEAR(0, sum, 1e-12 * scale);
    EXPECT_NEAR(0, sum_x, 1e-11 * scale);
    EXPECT_NEAR(0, sum_y, 1e-11 * scale);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, X3pExport,
                         ::testing::Values(Variant{"heights", {}, 'L', true},
                                           Variant{"counts", {"--values", "counts"}, 'L', false},
                                           Variant{
                                               "plane_levelled", {"--level", "plane"}, 'D', false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace harnix
