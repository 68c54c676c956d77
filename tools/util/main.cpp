// harnix-util: companion tools for Planoryx data files.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: harnix-util <subcommand> [arguments]\n", stderr);
    return 1;
  }
  std::fprintf(stderr, "harnix-util: unknown subcommand \"%s\"\n", argv[1]);
  return 1;
}
