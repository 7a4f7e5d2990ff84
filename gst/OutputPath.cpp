#include "gst/OutputPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kelvo::gst {

bool CheckOutputPath(const std::string& path, std::string* reason) {
  if (path.empty()) {
    *reason = "no file name given";
    return false;
  }
  const size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
  if (slash != std::string::npos && slash + 1 == path.size()) {
    *reason = "\"" + path + "\" names a folder, not a file";
    return false;
  }
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    *reason = "folder \"" + folder + "\" does not exist";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *reason = "\"" + folder + "\" is not a folder";
    return false;
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    *reason = "folder \"" + folder + "\" is not writable";
    return false;
  }
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *reason = "\"" + path + "\" is a folder";
      return false;
    }
    if (access(path.c_str(), W_OK) != 0) {
      *reason = "\"" + path + "\" exists and is not writable";
      return false;
    }
  }
  return true;
}

}  // namespace kelvo::gst
