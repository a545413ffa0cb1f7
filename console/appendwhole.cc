// console/appendwhole.cc: the locked, signal-safe append.
#include "console/appendwhole.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The signals that end a process by default and that a user or the system
// commonly sends; SIGKILL cannot be held back.
constexpr int kHeldSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE,
                                SIGALRM, SIGUSR1, SIGUSR2, SIGXFSZ};

// Writes all of `text` to `fd`. Returns "" or the reason it stopped.
std::string writeall(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno);
    if (n == 0) return "nothing could be written";
    done += static_cast<std::size_t>(n);
  }
  return "";
}

}  // namespace

std::string appendwhole(const std::string& path, const std::string& block) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return std::strerror(errno);
  // Waiting for another run's append can be interrupted as usual.
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const std::string reason = std::strerror(errno);
      close(fd);
      return reason;
    }
  }

  sigset_t held;
  sigset_t saved;
  sigemptyset(&held);
  for (int signal : kHeldSignals) sigaddset(&held, signal);
  sigprocmask(SIG_BLOCK, &held, &saved);

  std::string problem;
  struct stat before;
  if (fstat(fd, &before) != 0) {
    problem = std::strerror(errno);
  } else {
    problem = writeall(fd, block);
    // Cut a torn block off; a file that cannot be cut (a device) keeps
    // nothing anyway.
    if (!problem.empty() && S_ISREG(before.st_mode)) {
      while (ftruncate(fd, before.st_size) != 0 && errno == EINTR) {
      }
    }
  }
  if (close(fd) != 0 && problem.empty()) problem = std::strerror(errno);

  sigprocmask(SIG_SETMASK, &saved, nullptr);
  return problem;
}
