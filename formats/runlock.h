// formats/runlock.h: one writer at a time for each set of files in an output
// directory, through an advisory lock (flock) on a lock file beside them.
//
// A program's whole run writes its files under DIR/.combosim.lock, part K of
// N under DIR/.combosim.shard-K-of-N.lock, so the parts of one run may fill a
// directory side by side. A lock file stays in the directory; it is no
// output of a run. The lock keeps apart processes that take it, not other
// programs, and may not hold across machines on a network file system.
#ifndef COMBOSIM_FORMATS_RUNLOCK_H_
#define COMBOSIM_FORMATS_RUNLOCK_H_

#include <string>

// The lock file's name for the files of `infix` ("" for a whole run,
// ".shard-K-of-N" for part K of N).
std::string lockname(const std::string& infix);

// A lock held from take() until this process and every process forked from
// it after take() (which inherit it) have ended.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock of the files of `infix` in `dir` without waiting; `part`
  // names them in the problem ("a whole run", "part 2 of 4"). Returns "" or
  // the problem: another process holds it, naming the directory and the
  // part, or the lock file cannot be made.
  std::string take(const std::string& dir, const std::string& infix,
                   const std::string& part);

 private:
  int fd_ = -1;
};

#endif  // COMBOSIM_FORMATS_RUNLOCK_H_
