#include "support/in_process_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/command_line.h"
#include "cli/run_messages.h"
#include "support/temp_dir.h"

namespace harnix {

std::string capture_stderr(const std::function<void()>& body) {
  // A scratch file of its own for each test process; on Windows too, where an open file cannot
  // be unlinked.
  static const std::string path = TempDir::unique_name("harnix-stderr");
  std::FILE* file = std::fopen(path.c_str(), "w+b");
  if (file == nullptr) std::abort();
  std::fflush(stderr);
  const int saved = dup(2);
  dup2(fileno(file), 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  char buffer[4096];
  std::rewind(file);
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  std::remove(path.c_str());
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
