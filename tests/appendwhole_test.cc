// tests/appendwhole_test.cc: a termination signal that arrives during the
// append of a report block waits until the whole block is written.
#include "console/appendwhole.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/program_runner.h"

namespace {

TEST(AppendWhole, TerminationSignalWaitsForTheWholeBlock) {
  const programrunner::ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  // A pipe stands in for a slow disk: the writer blocks once it is full, in
  // the middle of the block, until the reader drains it.
  const std::string fifo = (dir.path() / "results.txt").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string block(1 << 18, 'x');  // four times a pipe's capacity

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string problem = appendwhole(fifo, block);
    _exit(problem.empty() ? 0 : 1);
  }
  const int fd = open(fifo.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  // The first bytes show that the append has begun; then the signal.
  pollfd ready = {fd, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 10000), 1);
  kill(child, SIGTERM);
  std::size_t received = 0;
  char buffer[1 << 14];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    received += static_cast<std::size_t>(n);
  }
  close(fd);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(received, block.size());
  // The signal still ends the process, once the block is whole.
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

}  // namespace
