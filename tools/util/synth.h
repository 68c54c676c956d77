// `harnix-util synth`: writes synthetic Planoryx measurements and a list file naming them.
#ifndef HARNIX_TOOLS_UTIL_SYNTH_H_
#define HARNIX_TOOLS_UTIL_SYNTH_H_

namespace harnix {

// argv[0] is "synth". Returns 0 after writing every file, 1 after a one-line message on the
// standard error stream.
int run_synth(int argc, char** argv);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_SYNTH_H_
