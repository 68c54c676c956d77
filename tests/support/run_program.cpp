#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace harnix {

ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input, const std::string& cwd) {
  ProgramResult result;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
  std::signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Feed the input while draining both outputs, so that no pipe can fill up and stall.
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    int out_i = -1, err_i = -1, in_i = -1;
    if (out_open) { fds[n] = {out_pipe[0], POLLIN, 0}; out_i = n++; }
    if (err_open) { fds[n] = {err_pipe[0], POLLIN, 0}; err_i = n++; }
    if (in_fd >= 0) { fds[n] = {in_fd, POLLOUT, 0}; in_i = n++; }
    if (poll(fds, n, -1) < 0) break;
    if (out_i >= 0 && fds[out_i].revents) {
      ssize_t r = read(out_pipe[0], buf, sizeof buf);
      if (r > 0) result.out.append(buf, r); else out_open = false;
    }
    if (err_i >= 0 && fds[err_i].revents) {
      ssize_t r = read(err_pipe[0], buf, sizeof buf);
      if (r > 0) result.err.append(buf, r); else err_open = false;
    }
    if (in_i >= 0 && fds[in_i].revents) {
      ssize_t w = write(in_fd, input.data() + written, input.size() - written);
      if (w > 0) written += w;
      if (w <= 0 || written == input.size()) { close(in_fd); in_fd = -1; }
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int wstatus = 0;
  if (waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  return result;
}

}  // namespace harnix
