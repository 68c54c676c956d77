#include "support/cli_case.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace harnix {

const char* const USAGE_TEXT =
    "Harnix\n"
    "Version 5\n"
    "\n"
    "This program reads height data from one or more Planoryx binary data files\n"
    "and computes one or more of the following:\n"
    "  Height average map\n"
    "  Height standard deviation map\n"
    "  Input count map\n"
    "  Height minimum, maximum and range maps\n"
    "  Standard uncertainty map of the height average\n"
    "Each result map is written to a separate output Planoryx binary data file.\n"
    "\n"
    "Input intensity maps are ignored.\n"
    "\n"
    "Usage:\n"
    "\n"
    "Harnix [Options] InFile1 ... InFileN\n"
    "Harnix [Options] @ListFile\n"
    "\n"
    "The first form of the command specifies the list of input data filenames\n"
    "directly. Wildcard filenames are supported.\n"
    "The second form of the command specifies text file ListFile that contains\n"
    "a list of input data filenames, one per line.\n"
    "\n"
    "Options:\n"
    "\n"
    "Options are specified by a prefix dash (-) character followed by a keyword.\n"
    "Keywords are not case-sensitive.\n"
    "\n"
    "-AvgOut AvgOutFile\n"
    "This option specifies the name of the output file that will contain\n"
    "the height average map.\n"
    "\n"
    "-SdevOut SdevOutFile\n"
    "This option specifies the name of the output file that will contain\n"
    "the height standard deviation map.\n"
    "\n"
    "-CountOut CountOutFile\n"
    "This option specifies the name of the output file that will contain\n"
    "the input count map.\n"
    "\n"
    "-MinOut MinOutFile\n"
    "-MaxOut MaxOutFile\n"
    "-RangeOut RangeOutFile\n"
    "These options specify the names of the output files that will contain\n"
    "the least and the greatest height at each pixel, and their difference.\n"
    "\n"
    "-UncertOut UncertOutFile\n"
    "This option specifies the name of the output file that will contain\n"
    "the standard uncertainty of the height average: the sample standard\n"
    "deviation divided by the square root of the count of valid inputs.\n"
    "Pixels with fewer than two valid inputs are tagged as dropouts.\n"
    "\n"
    "-SdevRemove None\n"
    "-SdevRemove Piston\n"
    "-SdevRemove Plane\n"
    "-SdevRemove Sphere\n"
    "-SdevRemove Cylinder\n"
    "-SdevRemove Robust\n"
    "This option affects the calculation of the height standard deviation map.\n"
    "It specifies removal of a best-fit polynomial surface from each input\n"
    "height map before calculating the sum and sum-of-squares.\n"
    "Robust fits a plane that outlying points cannot tilt.\n"
    "The default is None.\n"
    "\n"
    "-SdevType Population\n"
    "-SdevType Sample\n"
    "This option sets the divisor of the height standard deviation map:\n"
    "the count of valid inputs (Population) or one less (Sample). With Sample,\n"
    "pixels with fewer than two valid inputs are tagged as dropouts.\n"
    "The default is Population.\n"
    "\n"
    "-Combine Mean\n"
    "-Combine Median\n"
    "This option chooses what the height average map holds: the mean of the\n"
    "valid inputs at each pixel (Mean) or their median, the mean of the two\n"
    "middle values for an even count (Median). The default is Mean.\n"
    "The median reads the inputs again, a band of rows at a time.\n"
    "\n"
    "-MemoryLimit M\n"
    "This option sets the memory in MiB the median's bands of rows may hold\n"
    "(M above 0). The default is a quarter of the physical memory, at most 64.\n"
    "The results are the same for every limit. It requires Combine Median.\n"
    "\n"
    "-Level None\n"
    "-Level Piston\n"
    "-Level Plane\n"
    "This option levels each input height map to the stack before anything else\n"
    "uses it. A first pass forms the plain average of the inputs; the difference\n"
    "of each input from it gets a least-squares piston or plane, refitted twice\n"
    "without the points that lie more than three robust standard deviations\n"
    "from it, and that piston or plane is taken off the input. The levelled\n"
    "inputs then feed rejection, every result and the input report.\n"
    "An input with fewer than 16 points to fit is left as it is.\n"
    "The median of Combine Median takes the levelled values. The default is None.\n"
    "\n"
    "-MinValidCnt N\n"
    "-MinValidPct P\n"
    "Either option sets the minimum count of valid points (at each pixel in\n"
    "the camera field) required to calculate an average or standard deviation\n"
    "result. If the count of valid inputs for a point is less than the minimum,\n"
    "the average and standard deviation results are tagged as dropouts.\n"
    "The default minimum count is one.\n"
    "The MinValidCnt option sets the minimum count directly as an integer N.\n"
    "The allowed range is [1,NumInputFiles].\n"
    "The MinValidPct option sets the minimum count indirectly as a floating point\n"
    "percentage P of the number of input files. The allowed range is (0,100].\n"
    "\n"
    "-PhaseRes Normal\n"
    "-PhaseRes High\n"
    "-PhaseRes Super\n"
    "This option sets the output phase resolution. If this option is not specified,\n"
    "the output phase resolution is obtained from the first input file.\n"
    "If any input data file contains a different value, the phase data is scaled.\n"
    "\n"
    "-Reject K\n"
    "This option rejects outlying values at each pixel before the results are\n"
    "calculated. A value is rejected when it lies more than K times the standard\n"
    "deviation of the other values at the pixel (and more than one count) from\n"
    "their mean. Pixels with fewer than three values are not tested.\n"
    "K is a number above 0.\n"
    "\n"
    "-RejectIter N\n"
    "This option sets the number of rejection rounds, from 1 to 10. Each round\n"
    "tests the values kept by the one before. The default is 1. Rounds stop early\n"
    "when one rejects nothing.\n"
    "\n"
    "-RejectOut RejectOutFile\n"
    "This option specifies the name of the output file that will contain\n"
    "the count of rejected values at each pixel. It requires the Reject option.\n"
    "\n"
    "-InputReport ReportFile\n"
    "This option specifies the name of a CSV text file that will contain one row\n"
    "per input data file, comparing it with the height average.\n"
    "\n"
    "-RunRecord RecordFile\n"
    "This option specifies the name of a JSON text file that will record the run:\n"
    "the command, the settings, every input and output, and where a failed run\n"
    "stopped. It is written when the run ends, also after a failure.\n"
    "\n"
    "-Threads N\n"
    "This option sets the number of threads that add the input height maps.\n"
    "The allowed range is [1,NumCores], NumCores being the number of processor\n"
    "cores the program may use. The default is NumCores. The results are the\n"
    "same for every number of threads.\n"
    "\n"
    "-Align None\n"
    "-Align Shift\n"
    "This option aligns the inputs laterally before they are combined. With Shift,\n"
    "each input's offset from the first input is found by correlating their heights\n"
    "(a best-fit plane taken off both, over the points valid in both), and the\n"
    "input is moved on the camera field by the whole pixels of it: values are not\n"
    "resampled, and points moved off the camera are dropped. The sub-pixel rest is\n"
    "reported, not applied. An input whose offset cannot be told ends the run.\n"
    "The default is None.\n"
    "\n"
    "-AlignMax P\n"
    "This option sets the largest offset searched, in pixels in each direction.\n"
    "The allowed range is [1,512]. The default is 16.\n"
    "\n"
    "-Overwrite\n"
    "This option causes the program to quietly overwrite a pre-existing output file.\n"
    "If this option is not specified and if the output file already exists,\n"
    "the operator is prompted to confirm that the file may be overwritten.\n"
    "\n"
    "-Verbose\n"
    "This option causes verbose progress information to be output to the console.\n"
    "\n"
    "-Version\n"
    "This option causes the program to output its name and version, then exit.\n";

std::string error_text(const std::string& text) {
  return "Harnix\nERROR: " + text + "\n";
}

ProgramResult run_cli(const CliCase& c, const std::vector<std::string>& args,
                      const std::string& input) {
  TempDir dir;
  for (const char* name : {"a.dat", "b.dat", "c.dat", "out.dat"}) dir.write(name, "data");
  dir.make_dir("dir");
  for (const auto& [name, content] : c.files) dir.write(name, content);
  return run_program(HARNIX_EXE, args, input, dir.path());
}

void check_cli_case(const CliCase& c) {
  ProgramResult r = run_cli(c, c.args, c.input);
  if (!c.reaches_run) {
    EXPECT_EQ(c.out, r.out);
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ(c.status, r.status);
    return;
  }
  std::vector<std::string> reference_args = c.args;
  reference_args.push_back("-Overwrite");
  ProgramResult reference = run_cli(c, reference_args, "");
  // The reference itself must have got past the command line.
  EXPECT_EQ(std::string::npos, reference.out.find("Usage:")) << reference.out;
  EXPECT_EQ(std::string::npos, reference.out.find("Overwrite file")) << reference.out;
  for (const char* refusal :
       {"ERROR: Missing", "ERROR: Unknown", "ERROR: MinValid", "list file", "input filenames",
        "ERROR: No input files", "ERROR: Cannot access input file", "ERROR: No output file"}) {
    EXPECT_EQ(std::string::npos, reference.err.find(refusal)) << reference.err;
  }
  EXPECT_EQ(c.out + reference.out, r.out);
  EXPECT_EQ(reference.err, r.err);
  EXPECT_EQ(reference.status, r.status);
}

}  // namespace harnix
