// Times whole programs run after run in alternation and reports, for each, the median wall
// time and its ratio to the yardstick's median, the median processor time (user and system,
// from wait4) and its ratio, the median of its per-round ratios to the yardstick (each round's
// wall time over the yardstick's in that round: "paired") and the peak resident memory of the
// process. The yardstick is the fastest (by median wall time) of the first K programs, K = 1
// unless --yardsticks K says otherwise, and is marked with a star.
//
// usage: harnix-whole-run [--cold] [--yardsticks K] ROUNDS -- NAME PROGRAM ARG...
//                         [-- NAME PROGRAM ARG...]...
//
// With --cold the page cache is dropped before every run (sync, then 3 written to
// /proc/sys/vm/drop_caches), so that every program reads its files from the disk; that needs
// root, and without it the benchmark says so and stops with status 2.
//
// Each round runs every program once, so that a slow spell of the machine falls on all of them
// alike; round r starts with program r (modulo their number) and goes on in the order given,
// so that every program runs as often in every place of the order (a program run cold just after
// another was measured up to a fifth slower than first in the round). Standard output of the
// programs is discarded; a program that exits with a status other than 0 stops the benchmark.
// Peak memory is the largest ru_maxrss of the runs (from wait4), in MiB.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace harnix {

namespace {

struct Program {
  std::string name;
  std::vector<char*> argv;  // ends with nullptr
  std::vector<double> seconds;
  std::vector<double> cpu_seconds;  // user + system
  long peak_kib = 0;
};

// Empties the page cache: false when the system does not allow it.
bool drop_caches() {
  sync();
  const int fd = open("/proc/sys/vm/drop_caches", O_WRONLY);
  if (fd < 0) return false;
  const bool ok = write(fd, "3\n", 2) == 2;
  close(fd);
  return ok;
}

void run_once(Program& p, bool cold) {
  if (cold && !drop_caches()) {
    std::fputs("harnix-whole-run: cannot drop the page cache (needs root): no cold rounds\n",
               stderr);
    std::exit(2);
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execvp(p.argv[0], p.argv.data());
    std::perror(p.argv[0]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    std::exit(1);
  }
  const auto stop = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "harnix-whole-run: %s failed (status %d)\n", p.name.c_str(), status);
    std::exit(1);
  }
  p.seconds.push_back(std::chrono::duration<double>(stop - start).count());
  auto as_seconds = [](const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); };
  p.cpu_seconds.push_back(as_seconds(usage.ru_utime) + as_seconds(usage.ru_stime));
  p.peak_kib = std::max(p.peak_kib, usage.ru_maxrss);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

}  // namespace harnix

int main(int argc, char** argv) {
  using namespace harnix;
  bool cold = false;
  int yardsticks = 1;
  for (;;) {
    if (argc > 1 && std::strcmp(argv[1], "--cold") == 0) {
      cold = true;
      --argc;
      ++argv;
    } else if (argc > 2 && std::strcmp(argv[1], "--yardsticks") == 0) {
      yardsticks = std::max(1, std::atoi(argv[2]));
      argc -= 2;
      argv += 2;
    } else {
      break;
    }
  }
  if (argc < 5 || std::strcmp(argv[2], "--") != 0) {
    std::fputs(
        "usage: harnix-whole-run [--cold] [--yardsticks K] ROUNDS -- NAME PROGRAM ARG... "
        "[-- NAME PROGRAM ARG...]...\n",
        stderr);
    return 1;
  }
  const int rounds = std::max(1, std::atoi(argv[1]));
  std::vector<Program> programs;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      if (i + 2 >= argc) {
        std::fputs("harnix-whole-run: a NAME and a PROGRAM follow each --\n", stderr);
        return 1;
      }
      programs.push_back(Program{argv[i + 1], {}, {}, {}, 0});
      i += 1;
      continue;
    }
    programs.back().argv.push_back(argv[i]);
  }
  for (Program& p : programs) p.argv.push_back(nullptr);

  for (int r = 0; r < rounds; ++r) {
    for (std::size_t k = 0; k < programs.size(); ++k)
      run_once(programs[(std::size_t(r) + k) % programs.size()], cold);
  }
  std::size_t yardstick = 0;
  for (std::size_t k = 1; k < std::min<std::size_t>(std::size_t(yardsticks), programs.size()); ++k) {
    if (median(programs[k].seconds) < median(programs[yardstick].seconds)) yardstick = k;
  }
  const Program& y = programs[yardstick];
  const double base = median(y.seconds);
  const double cpu_base = median(y.cpu_seconds);
  std::printf("%-17s %9s %9s %9s %7s %9s %7s %7s %9s\n", "program", "median s", "min s",
              "max s", "ratio", "cpu s", "ratio", "paired", "peak MiB");
  for (const Program& p : programs) {
    const double m = median(p.seconds);
    const double cpu = median(p.cpu_seconds);
    // Each round's time over the first program's in the same round: a slow spell that lasts a
    // round weighs on both sides of the ratio.
    std::vector<double> ratios;
    for (std::size_t r = 0; r < p.seconds.size(); ++r)
      ratios.push_back(p.seconds[r] / y.seconds[r]);
    const std::string name = &p == &y ? p.name + "*" : p.name;
    std::printf("%-17s %9.4f %9.4f %9.4f %7.2f %9.4f %7.2f %7.2f %9.1f\n", name.c_str(), m,
                *std::min_element(p.seconds.begin(), p.seconds.end()),
                *std::max_element(p.seconds.begin(), p.seconds.end()), m / base, cpu,
                cpu / cpu_base, median(ratios), double(p.peak_kib) / 1024.0);
  }
  return 0;
}
