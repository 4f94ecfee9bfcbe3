#include "tests/support/run_program.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace dropix::testing {

namespace {
[[noreturn]] void exec_in(const std::vector<std::string>& args, const std::string& cwd) {
  if (::chdir(cwd.c_str()) != 0) ::_exit(120);
  std::vector<char*> argv;
  std::string exe = dropix_exe();
  argv.push_back(exe.data());
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(exe.c_str(), argv.data());
  ::_exit(121);
}

int wait_status(pid_t pid) {
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return -1;
}
}  // namespace

std::string dropix_exe() { return DROPIX_EXE; }

run_result run_dropix(const std::vector<std::string>& args, const std::string& cwd, unsigned limit_s) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::alarm(limit_s);  // a hanging run is ended, not waited for
    exec_in(args, cwd);
  }
  ::close(fds[1]);
  run_result r;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) r.out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  r.status = wait_status(pid);
  return r;
}

int start_dropix(const std::vector<std::string>& args, const std::string& cwd) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    exec_in(args, cwd);
  }
  return static_cast<int>(pid);
}

int wait_dropix(int pid) { return wait_status(static_cast<pid_t>(pid)); }

run_result run_on_terminal(const std::vector<std::string>& args, const std::string& cwd,
                           const std::string& trigger, const std::function<void(int, int)>& act) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return {};
  if (pid == 0) exec_in(args, cwd);
  run_result r;
  bool acted = false;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EIO once the child has closed the terminal
    r.out.append(buf, static_cast<std::size_t>(n));
    if (!acted && r.out.find(trigger) != std::string::npos) {
      acted = true;
      act(pid, master);
    }
  }
  ::close(master);
  r.status = wait_status(pid);
  return r;
}

}  // namespace dropix::testing
