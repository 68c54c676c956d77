#include "cli/usage.h"

#include "averaging/console.h"

namespace harnix {

namespace {

constexpr const char* USAGE_LINES[] = {
    "Harnix",
    "Version 5",
    "",
    "This program reads height data from one or more Planoryx binary data files",
    "and computes one or more of the following:",
    "  Height average map",
    "  Height standard deviation map",
    "  Input count map",
    "Each result map is written to a separate output Planoryx binary data file.",
    "",
    "Input intensity maps are ignored.",
    "",
    "Usage:",
    "",
    "Harnix [Options] InFile1 ... InFileN",
    "Harnix [Options] @ListFile",
    "",
    "The first form of the command specifies the list of input data filenames",
    "directly. Wildcard filenames are supported.",
    "The second form of the command specifies text file ListFile that contains",
    "a list of input data filenames, one per line.",
    "",
    "Options:",
    "",
    "Options are specified by a prefix dash (-) character followed by a keyword.",
    "Keywords are not case-sensitive.",
    "",
    "-AvgOut AvgOutFile",
    "This option specifies the name of the output file that will contain",
    "the height average map.",
    "",
    "-SdevOut SdevOutFile",
    "This option specifies the name of the output file that will contain",
    "the height standard deviation map.",
    "",
    "-CountOut CountOutFile",
    "This option specifies the name of the output file that will contain",
    "the input count map.",
    "",
    "-SdevRemove None",
    "-SdevRemove Piston",
    "-SdevRemove Plane",
    "-SdevRemove Sphere",
    "This option affects the calculation of the height standard deviation map.",
    "It specifies removal of a best-fit polynomial surface from each input",
    "height map before calculating the sum and sum-of-squares.",
    "The default is None.",
    "",
    "-MinValidCnt N",
    "-MinValidPct P",
    "Either option sets the minimum count of valid points (at each pixel in",
    "the camera field) required to calculate an average or standard deviation",
    "result. If the count of valid inputs for a point is less than the minimum,",
    "the average and standard deviation results are tagged as dropouts.",
    "The default minimum count is one.",
    "The MinValidCnt option sets the minimum count directly as an integer N.",
    "The allowed range is [1,NumInputFiles].",
    "The MinValidPct option sets the minimum count indirectly as a floating point",
    "percentage P of the number of input files. The allowed range is (0,100].",
    "",
    "-PhaseRes Normal",
    "-PhaseRes High",
    "-PhaseRes Super",
    "This option sets the output phase resolution. If this option is not specified,",
    "the output phase resolution is obtained from the first input file.",
    "If any input data file contains a different value, the phase data is scaled.",
    "",
    "-Overwrite",
    "This option causes the program to quietly overwrite a pre-existing output file.",
    "If this option is not specified and if the output file already exists,",
    "the operator is prompted to confirm that the file may be overwritten.",
    "",
    "-Verbose",
    "This option causes verbose progress information to be output to the console.",
};

}  // namespace

void print_usage() {
  for (const char* line : USAGE_LINES) print_output_line("%s\n", line);
}

}  // namespace harnix
