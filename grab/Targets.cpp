#include "grab/Targets.h"

#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "imaging/core/SafeFile.h"

namespace kelvo::grab::detail {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The kernel gives up after 40 links too.
constexpr int kMaxLinks = 40;

// The filter holds a still's name in UTF-16 with a terminating zero: 256
// units for the main still, 260 for a request.
constexpr size_t kMainNameUnits = 255;
constexpr size_t kRequestNameUnits = 259;

}  // namespace

std::string CheckStillName(const Request& still) {
  const std::string& name = still.file;
  if (!g_utf8_validate(name.c_str(), static_cast<gssize>(name.size()), nullptr)) {
    // Shown with the bad bytes replaced, so the message itself is text.
    gchar* shown = g_utf8_make_valid(name.c_str(), static_cast<gssize>(name.size()));
    std::string why = std::string("the file name \"") + shown +
                      "\" is not valid UTF-8; stills are written to UTF-8 names only";
    g_free(shown);
    return why;
  }
  size_t units = 0;
  for (const char* p = name.c_str(); *p; p = g_utf8_next_char(p))
    units += g_utf8_get_char(p) > 0xFFFF ? 2 : 1;
  const size_t limit = still.main ? kMainNameUnits : kRequestNameUnits;
  if (units > limit)
    return "the file name \"" + name + "\" is too long for the frame grabber (" +
           std::to_string(units) + " UTF-16 units; at most " + std::to_string(limit) + " for " +
           (still.main ? "the main still" : "a --snapshot") + ")";
  return {};
}

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

void CheckFiles(const std::string& input, const std::vector<Request>& stills) {
  std::string problem = kelvo::io::CheckInputFile(input);
  if (problem.empty() && access(input.c_str(), R_OK) != 0) {
    const int reason = errno;
    problem = Quoted(input) + ": " + std::generic_category().message(reason);
  }
  if (!problem.empty()) throw Error(Error::Kind::Input, "cannot read input: " + problem);

  // Refusals that no change to the file system would cure come first (the
  // arguments are wrong), then missing or read-only folders.
  std::vector<std::string> folderProblems;
  std::vector<fs::path> identities;
  std::vector<const Request*> checked;
  for (const Request& s : stills) {
    if (s.file.empty()) continue;
    problem = CheckStillName(s);
    if (!problem.empty()) throw Error(Error::Kind::Arguments, "cannot write a still: " + problem);
    problem = kelvo::io::CheckOutputTarget(s.file);
    std::error_code ec;
    const fs::path name(s.file);
    if (!problem.empty() && (!name.has_filename() || fs::exists(fs::status(name, ec))))
      throw Error(Error::Kind::Arguments, "cannot write a still: " + problem);
    if (kelvo::io::SameFile(input, name))
      throw Error(Error::Kind::Arguments,
                  Quoted(s.file) + " is the input video; a still written there would replace it");
    const fs::path identity = FileIdentity(name);
    for (size_t i = 0; i < identities.size(); ++i) {
      if (identities[i] != identity) continue;
      const std::string& first = checked[i]->file;
      throw Error(Error::Kind::Arguments,
                  first == s.file ? "two stills would be written to " + Quoted(s.file)
                                  : Quoted(first) + " and " + Quoted(s.file) +
                                        " name the same file; two stills would be written to it");
    }
    identities.push_back(identity);
    checked.push_back(&s);
    if (problem.empty() && access(identity.parent_path().c_str(), W_OK) != 0) {
      const int reason = errno;
      problem = Quoted(s.file) + ": folder " + Quoted(identity.parent_path().string()) +
                " is not writable: " + std::generic_category().message(reason);
    }
    folderProblems.push_back(problem);
  }
  for (const std::string& p : folderProblems)
    if (!p.empty()) throw Error(Error::Kind::Output, "cannot write a still: " + p);
}

}  // namespace kelvo::grab::detail
