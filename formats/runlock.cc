// formats/runlock.cc: the lock file, opened and locked without waiting.
#include "formats/runlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

std::string lockname(const std::string& infix) {
  return ".combosim" + infix + ".lock";
}

RunLock::~RunLock() {
  if (fd_ >= 0) close(fd_);
}

std::string RunLock::take(const std::string& dir, const std::string& infix,
                          const std::string& part) {
  const std::string path = (std::filesystem::path(dir) / lockname(infix)).string();
  // Not truncated, and closed on exec: forked processes keep it, programs
  // they start do not.
  fd_ = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    return "cannot make the lock file " + path + ": " + std::strerror(errno);
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return "";
  const int why = errno;
  close(fd_);
  fd_ = -1;
  if (why == EWOULDBLOCK) {
    return "another run is writing the files of " + part + " into " + dir +
           " (it holds " + path + "); wait for it to end";
  }
  return "cannot lock " + path + ": " + std::strerror(why);
}
