// `harnix-util export`: the phase map of a Planoryx file, levelled or not, as GSF, XYZ, a text
// matrix, an X3P archive or a PNG preview.
#ifndef HARNIX_TOOLS_UTIL_EXPORT_H_
#define HARNIX_TOOLS_UTIL_EXPORT_H_

namespace harnix {

// argv[0] is "export". Returns 0 after writing the output whole, 1 after a one-line message on
// the standard error stream; the output name then holds what it held before.
int run_export(int argc, char** argv);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_EXPORT_H_
