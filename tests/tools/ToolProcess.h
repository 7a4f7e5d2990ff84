#pragma once

// Runs a tool as a child process, the way a shell would, under the
// conditions the tests inject: a file-size limit with SIGXFSZ ignored (so a
// write fails with EFBIG instead of killing the tool), standard output on
// /dev/full or closed. Every run has a time limit: an alarm set in the
// child ends it, so a tool that blocks (on a pipe, say) fails the test
// instead of hanging it. The limits apply to the child only.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kelvo::test {

struct ToolRun {
  enum class Stdout { kCapture, kFull, kClosed };
  std::vector<std::string> args;  // after the program name
  std::string cwd;                // empty: this process's
  long long fileSizeLimit = -1;   // bytes; -1: none
  Stdout stdoutMode = Stdout::kCapture;
  unsigned timeLimit = 60;  // seconds
};

struct ToolResult {
  int status = -1;  // exit status; -1 when the tool did not exit by itself
  int signal = 0;   // the signal that ended it, if one did
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline ToolResult RunToolProcess(const std::string& program, const ToolRun& run) {
  ToolResult result;
  const char* tmp = std::getenv("TMPDIR");
  std::string outName = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelvo-tool-out-XXXXXX";
  std::string errName = outName;
  errName.replace(errName.find("-out-"), 5, "-err-");
  const int outFd = mkostemp(outName.data(), O_CLOEXEC);
  const int errFd = mkostemp(errName.data(), O_CLOEXEC);
  if (outFd < 0 || errFd < 0) return result;

  // Everything the child needs is made before fork: after it, only
  // async-signal-safe calls until exec.
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& a : run.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int fullFd = run.stdoutMode == ToolRun::Stdout::kFull
                         ? ::open("/dev/full", O_WRONLY | O_CLOEXEC)
                         : -1;
  const pid_t pid = fork();
  if (pid == 0) {
    if (!run.cwd.empty() && chdir(run.cwd.c_str()) != 0) _exit(126);
    switch (run.stdoutMode) {
      case ToolRun::Stdout::kCapture:
        dup2(outFd, STDOUT_FILENO);
        break;
      case ToolRun::Stdout::kFull:
        dup2(fullFd, STDOUT_FILENO);
        break;
      case ToolRun::Stdout::kClosed:
        close(STDOUT_FILENO);
        break;
    }
    dup2(errFd, STDERR_FILENO);
    if (run.fileSizeLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(run.fileSizeLimit),
                         static_cast<rlim_t>(run.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_IGN);
    }
    alarm(run.timeLimit);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (fullFd >= 0) close(fullFd);
  close(outFd);
  close(errFd);
  int wait = 0;
  if (pid > 0 && waitpid(pid, &wait, 0) == pid) {
    if (WIFEXITED(wait)) result.status = WEXITSTATUS(wait);
    if (WIFSIGNALED(wait)) result.signal = WTERMSIG(wait);
  }
  result.out = ReadWholeFile(outName);
  result.err = ReadWholeFile(errName);
  unlink(outName.c_str());
  unlink(errName.c_str());
  return result;
}

}  // namespace kelvo::test
