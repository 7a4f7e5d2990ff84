#include "tools/framegrab/StillTargets.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "imaging/core/SafeFile.h"
#include "tools/framegrab/GrabSession.h"

namespace kelvo::framegrab {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The kernel gives up after 40 links too.
constexpr int kMaxLinks = 40;

}  // namespace

fs::path FileIdentity(const fs::path& name) {
  std::error_code ec;
  fs::path current = fs::absolute(name, ec);
  if (ec) current = name;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    if (!fs::is_symlink(fs::symlink_status(current, ec))) break;
    const fs::path next = fs::read_symlink(current, ec);
    if (ec) break;
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  fs::path folder = fs::weakly_canonical(current.parent_path(), ec);
  if (ec) folder = current.parent_path().lexically_normal();
  return folder / current.filename();
}

int CheckFiles(const std::string& input, const std::vector<Still>& stills, std::string* error) {
  std::string problem = kelvo::io::CheckInputFile(input);
  if (problem.empty() && access(input.c_str(), R_OK) != 0) {
    const int reason = errno;
    problem = Quoted(input) + ": " + std::generic_category().message(reason);
  }
  if (!problem.empty()) {
    *error = "cannot read input: " + problem;
    return kExitInput;
  }

  // Refusals that no change to the file system would cure come first (the
  // arguments are wrong), then missing or read-only folders.
  std::vector<std::string> folderProblems;
  std::vector<fs::path> identities;
  for (const Still& s : stills) {
    problem = kelvo::io::CheckOutputTarget(s.file);
    std::error_code ec;
    const fs::path name(s.file);
    if (!problem.empty() && (!name.has_filename() || fs::exists(fs::status(name, ec)))) {
      *error = "cannot write a still: " + problem;
      return kExitUsage;
    }
    if (kelvo::io::SameFile(input, name)) {
      *error = Quoted(s.file) + " is the input video; a still written there would replace it";
      return kExitUsage;
    }
    const fs::path identity = FileIdentity(name);
    for (size_t i = 0; i < identities.size(); ++i) {
      if (identities[i] != identity) continue;
      const std::string& first = stills[i].file;
      *error = first == s.file ? "two stills would be written to " + Quoted(s.file)
                               : Quoted(first) + " and " + Quoted(s.file) +
                                     " name the same file; two stills would be written to it";
      return kExitUsage;
    }
    identities.push_back(identity);
    if (problem.empty() && access(identity.parent_path().c_str(), W_OK) != 0) {
      const int reason = errno;
      problem = Quoted(s.file) + ": folder " + Quoted(identity.parent_path().string()) +
                " is not writable: " + std::generic_category().message(reason);
    }
    folderProblems.push_back(problem);
  }
  for (const std::string& p : folderProblems) {
    if (p.empty()) continue;
    *error = "cannot write a still: " + p;
    return kExitOutput;
  }
  return kExitOk;
}

}  // namespace kelvo::framegrab
