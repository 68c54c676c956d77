#include "support/in_process_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/command_line.h"
#include "cli/run_messages.h"

namespace harnix {

std::string capture_stderr(const std::function<void()>& body) {
  char path[] = "/tmp/harnix-stderr-XXXXXX";
  const int file = mkstemp(path);
  if (file < 0) std::abort();
  unlink(path);
  std::fflush(stderr);
  const int saved = dup(2);
  dup2(file, 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  char buffer[4096];
  lseek(file, 0, SEEK_SET);
  for (ssize_t n; (n = read(file, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(file);
  return text;
}

InProcessRun run_in_process(const RunSettings& settings, const InputList& inputs) {
  InProcessRun r;
  r.err = capture_stderr([&] { r.ok = run_on_console(settings, inputs); });
  return r;
}

int main_in_process(const std::vector<std::string>& args, std::string* err) {
  std::vector<std::string> storage = {"harnix"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  int status = -1;
  *err = capture_stderr([&] { status = parse_command_line(int(storage.size()), argv.data()); });
  return status;
}

}  // namespace harnix
