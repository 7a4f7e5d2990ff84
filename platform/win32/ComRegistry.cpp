#include "platform/win32/ComRegistry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace kelvo::platform {

namespace {

// Far above any real registry (200,000 classes take about 20 MB); a bigger
// file is damage or mischief, not something to read into memory.
constexpr off_t kMaxRegistryBytes = off_t{256} << 20;

std::string Reason(int error) {
  return std::error_code(error, std::generic_category()).message();
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int Get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

bool IsAbsolute(const char* path) {
  return path != nullptr && path[0] == '/';
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); IsAbsolute(home)) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE &&
         buffer.size() < (size_t{1} << 20))
    buffer.resize(buffer.size() * 2);
  if (result != nullptr && IsAbsolute(result->pw_dir)) return result->pw_dir;
  return {};
}

// Why a file with these attributes is not to be trusted as the registry or
// a module; empty when it is.
std::string Distrust(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) {
    const char* kind = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a named pipe"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                     : "not a plain file";
    return std::string("is ") + kind + ", not a regular file";
  }
  if (st.st_uid != geteuid() && st.st_uid != 0)
    return "is owned by another user (uid " + std::to_string(st.st_uid) + ")";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("is writable by group or others (mode ") + mode + ")";
  }
  return {};
}

RegistryStatus Failure(HRESULT code, std::string message) {
  return RegistryStatus{code, std::move(message)};
}

RegistryStatus NoPlace() {
  return Failure(REGDB_E_READREGDB,
                 "the class registry has no place: neither KELVO_COM_REGISTRY, XDG_DATA_HOME nor "
                 "HOME is an absolute path, and the user has no home folder");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A GUID as two words, to find duplicates and records without keeping a
// second copy of every identifier's text.
struct GuidKey {
  uint64_t high = 0, low = 0;
  bool operator==(const GuidKey&) const = default;
};

struct GuidKeyHash {
  size_t operator()(const GuidKey& key) const {
    return static_cast<size_t>(key.high * 0x9E3779B97F4A7C15ull ^ key.low);
  }
};

GuidKey KeyOf(const GUID& guid) {
  uint8_t bytes[sizeof(GUID)];
  std::memcpy(bytes, &guid, sizeof bytes);
  GuidKey key;
  std::memcpy(&key.high, bytes, 8);
  std::memcpy(&key.low, bytes + 8, 8);
  return key;
}

// The GUID in upper case, or empty when `text` is not one.
std::string CanonicalGuid(std::string_view text) {
  GUID guid{};
  return GuidFromString(text, &guid) ? GuidToString(guid) : std::string();
}

// Line breaks and other control characters would change the file's lines.
bool Storable(std::string_view value) {
  for (const char c : value)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
  return true;
}

bool ParseFlag(std::string_view field, bool* flag) {
  if (field != "0" && field != "1") return false;
  *flag = field == "1";
  return true;
}

bool ParseMerit(std::string_view text, uint32_t* merit) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty() || HexDigit(text[0]) < 0) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *merit, base);
  return error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t at = text.find(separator);
    fields.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return fields;
    text.remove_prefix(at + 1);
  }
}

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  explicit FileIdentity(const struct stat& st)
      : device(st.st_dev), inode(st.st_ino), size(st.st_size), modified(st.st_mtim) {}
  FileIdentity() = default;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

// Reads and parses the registry at `path`. An absent file is an empty
// registry. *identity is set when the file was opened and examined, so the
// outcome may be cached against it.
RegistryStatus LoadRegistryFile(const std::string& path, std::vector<RegisteredClass>* classes,
                                FileIdentity* identity, bool* identified) {
  classes->clear();
  *identified = false;
  // Examined before opening: opening a pipe or a device can block or act.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return Failure(REGDB_E_READREGDB,
                   "cannot read the class registry " + Quoted(path) + ": " + Reason(errno));
  }
  if (std::string why = Distrust(st); !why.empty())
    return Failure(E_ACCESSDENIED, "the class registry " + Quoted(path) + " " + why);
  // O_NONBLOCK in case the name was swapped for a pipe after the check.
  FileHandle file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) {
    if (errno == ENOENT) return {};
    return Failure(REGDB_E_READREGDB,
                   "cannot read the class registry " + Quoted(path) + ": " + Reason(errno));
  }
  if (fstat(file.Get(), &st) != 0)
    return Failure(REGDB_E_READREGDB,
                   "cannot read the class registry " + Quoted(path) + ": " + Reason(errno));
  if (std::string why = Distrust(st); !why.empty())
    return Failure(E_ACCESSDENIED, "the class registry " + Quoted(path) + " " + why);
  *identity = FileIdentity(st);
  *identified = true;
  if (st.st_size > kMaxRegistryBytes)
    return Failure(REGDB_E_READREGDB, "the class registry " + Quoted(path) + " is too large (" +
                                          std::to_string(st.st_size) + " bytes)");
  std::string text;
  text.resize(static_cast<size_t>(st.st_size));
  size_t used = 0;
  for (;;) {
    if (used == text.size()) {
      if (text.size() > static_cast<size_t>(kMaxRegistryBytes))
        return Failure(REGDB_E_READREGDB, "the class registry " + Quoted(path) + " is too large");
      text.resize(text.size() + 4096);
    }
    const ssize_t got = read(file.Get(), text.data() + used, text.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0)
      return Failure(REGDB_E_READREGDB,
                     "cannot read the class registry " + Quoted(path) + ": " + Reason(errno));
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  text.resize(used);
  std::string error;
  if (!ParseComRegistry(text, classes, &error))
    return Failure(REGDB_E_READREGDB,
                   "the class registry " + Quoted(path) + " is damaged: " + error);
  return {};
}

void MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
}

// Temporaries are named "<registry>.tmp.<pid>[.<anything>]"; those of a
// process that no longer exists were left by a killed update. Our own pid
// counts as dead too: the caller holds the lock, and no update of this
// process leaves its temporary behind when it returns.
void RemoveDeadTemporaries(const std::string& folder, const std::string& base) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::string prefix = base + ".tmp.";
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.substr(0, prefix.size()) != prefix) continue;
    const std::string_view rest = name.substr(prefix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (error != std::errc() || pid <= 0 || end == rest.data() ||
        (end != rest.data() + rest.size() && *end != '.'))
      continue;
    if (pid != getpid() && (kill(pid, 0) == 0 || errno == EPERM)) continue;
    unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// Replaces the registry with `text` through an exclusive temporary beside
// it. The caller holds the lock.
RegistryStatus ReplaceRegistry(const std::string& path, const std::string& folder,
                               const std::string& text) {
  uint64_t nonce = 0;
  if (getrandom(&nonce, sizeof nonce, 0) != static_cast<ssize_t>(sizeof nonce))
    return Failure(STG_E_WRITEFAULT, "cannot name a temporary for the class registry " +
                                         Quoted(path) + ": " + Reason(errno));
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%016llx", static_cast<long>(getpid()),
                static_cast<unsigned long long>(nonce));
  const std::string temporary = path + suffix;
  FileHandle file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH));
  if (file.Get() < 0)
    return Failure(STG_E_WRITEFAULT, "cannot create a temporary for the class registry " +
                                         Quoted(path) + ": " + Reason(errno));
  // Set outright: the umask may have taken bits away, and a loose umask must
  // not leave the file others can write.
  bool ok = fchmod(file.Get(), S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) == 0 &&
            WriteAll(file.Get(), text) && fsync(file.Get()) == 0;
  const int writeError = errno;
  ok = file.Close() && ok;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = ok ? errno : writeError;
    unlink(temporary.c_str());
    return Failure(STG_E_WRITEFAULT,
                   "cannot write the class registry " + Quoted(path) + ": " + Reason(error));
  }
  // The rename lasts only once the folder is on disk too.
  FileHandle dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0 || fsync(dir.Get()) != 0)
    return Failure(STG_E_WRITEFAULT,
                   "cannot sync the folder of the class registry " + Quoted(path) + ": " +
                       Reason(errno));
  return {};
}

struct Snapshot {
  RegistryStatus status;
  std::vector<RegisteredClass> classes;
  std::unordered_map<GuidKey, size_t, GuidKeyHash> byClsid;
};

struct Cache {
  std::mutex mutex;
  std::string path;
  FileIdentity identity;
  std::shared_ptr<const Snapshot> snapshot;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

}  // namespace

std::string ComRegistryPath() {
  if (const char* explicitPath = std::getenv("KELVO_COM_REGISTRY"); IsAbsolute(explicitPath))
    return explicitPath;
  if (const char* data = std::getenv("XDG_DATA_HOME"); IsAbsolute(data))
    return std::string(data) + "/kelvo/com-registry";
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/.local/share/kelvo/com-registry";
}

std::string GuidToString(const GUID& g) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  const uint8_t bytes[16] = {
      static_cast<uint8_t>(g.Data1 >> 24), static_cast<uint8_t>(g.Data1 >> 16),
      static_cast<uint8_t>(g.Data1 >> 8),  static_cast<uint8_t>(g.Data1),
      static_cast<uint8_t>(g.Data2 >> 8),  static_cast<uint8_t>(g.Data2),
      static_cast<uint8_t>(g.Data3 >> 8),  static_cast<uint8_t>(g.Data3),
      g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
      g.Data4[7]};
  size_t at = 1;
  for (const uint8_t byte : bytes) {
    if (text[at] == '-') ++at;
    text[at++] = kDigits[byte >> 4];
    text[at++] = kDigits[byte & 15];
  }
  return text;
}

bool GuidFromString(std::string_view text, GUID* guid) {
  static constexpr std::string_view kShape = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (text.size() != kShape.size()) return false;
  uint8_t bytes[16] = {};
  size_t count = 0;
  for (size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] != 'x') {
      if (text[i] != kShape[i]) return false;
      continue;
    }
    // Hex digits come in pairs in every group.
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[++i]);
    if (high < 0 || low < 0) return false;
    bytes[count++] = static_cast<uint8_t>(high << 4 | low);
  }
  guid->Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  guid->Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid->Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
  return true;
}

// Format: a "[class {CLSID}]" line opens a record; "key=value" lines follow:
// name, module (required), and for filters merit, then
// "pin=name|rendered|output|zero|many" lines, each followed by its
// "type=major|minor" lines. Every key at most once per record, except pin
// and type.
bool ParseComRegistry(std::string_view text, std::vector<RegisteredClass>* classes,
                      std::string* error) {
  classes->clear();
  // Room for every record up front: a registry can hold a great many.
  size_t headers = text.substr(0, 1) == "[" ? 1 : 0;
  for (size_t at = text.find("\n["); at != std::string_view::npos; at = text.find("\n[", at + 2))
    ++headers;
  classes->reserve(headers);
  std::unordered_set<GuidKey, GuidKeyHash> seen;
  seen.reserve(headers);
  size_t lineNumber = 0;
  bool hasName = false, hasModule = false;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(lineNumber) + ": " + why;
    classes->clear();
    return false;
  };
  auto recordComplete = [&]() {
    return classes->empty() || hasModule ||
           fail("class " + classes->back().clsid + " names no module");
  };
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!Storable(line)) return fail("control character in the line");
    if (line.empty() || line[0] == '#') continue;

    if (line[0] == '[') {
      constexpr std::string_view kOpen = "[class ";
      if (line.substr(0, kOpen.size()) != kOpen || line.back() != ']')
        return fail("expected \"[class {CLSID}]\"");
      const std::string_view id = line.substr(kOpen.size(), line.size() - kOpen.size() - 1);
      GUID guid{};
      if (!GuidFromString(id, &guid))
        return fail("\"" + std::string(id) + "\" is not a class identifier");
      const std::string clsid = GuidToString(guid);
      if (!recordComplete()) return false;
      if (!seen.insert(KeyOf(guid)).second) return fail("class " + clsid + " is recorded twice");
      classes->emplace_back().clsid = clsid;
      hasName = hasModule = false;
      continue;
    }

    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected \"key=value\"");
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (classes->empty()) return fail("\"" + std::string(key) + "\" before the first class");
    RegisteredClass& entry = classes->back();
    if (key == "name") {
      if (hasName) return fail("second name");
      hasName = true;
      entry.name = value;
    } else if (key == "module") {
      if (hasModule) return fail("second module");
      if (value.empty()) return fail("empty module path");
      hasModule = true;
      entry.module = value;
    } else if (key == "merit") {
      if (entry.isFilter) return fail("second merit");
      if (!ParseMerit(value, &entry.merit)) return fail("merit is not a 32-bit number");
      entry.isFilter = true;
    } else if (key == "pin") {
      if (!entry.isFilter) return fail("pin of a class that has no merit");
      const std::vector<std::string_view> fields = Split(value, '|');
      RegisteredPin pin;
      if (fields.size() != 5 || !ParseFlag(fields[1], &pin.rendered) ||
          !ParseFlag(fields[2], &pin.output) || !ParseFlag(fields[3], &pin.zero) ||
          !ParseFlag(fields[4], &pin.many))
        return fail("expected \"pin=name|rendered|output|zero|many\" with flags 0 or 1");
      pin.name = fields[0];
      entry.pins.push_back(std::move(pin));
    } else if (key == "type") {
      if (entry.pins.empty()) return fail("media type before the first pin");
      const std::vector<std::string_view> fields = Split(value, '|');
      std::string major, minor;
      if (fields.size() != 2 || (major = CanonicalGuid(fields[0])).empty() ||
          (minor = CanonicalGuid(fields[1])).empty())
        return fail("expected \"type={major}|{minor}\"");
      entry.pins.back().mediaTypes.emplace_back(std::move(major), std::move(minor));
    } else {
      return fail("unknown key \"" + std::string(key) + "\"");
    }
  }
  return recordComplete();
}

bool FormatComRegistry(const std::vector<RegisteredClass>& classes, std::string* text,
                       std::string* error) {
  std::string out = "# Registered COM classes\n";
  std::unordered_set<std::string> seen;
  for (const RegisteredClass& entry : classes) {
    const std::string clsid = CanonicalGuid(entry.clsid);
    auto fail = [&](const std::string& why) {
      *error = "class " + (clsid.empty() ? entry.clsid : clsid) + ": " + why;
      return false;
    };
    if (clsid.empty()) return fail("not a class identifier");
    if (!seen.insert(clsid).second) return fail("recorded twice");
    if (!Storable(entry.name)) return fail("control character in the name");
    if (entry.module.empty() || !Storable(entry.module))
      return fail("module path empty or with a control character");
    if (!entry.isFilter && !entry.pins.empty()) return fail("pins, but not a filter");
    out += "[class " + clsid + "]\nname=" + entry.name + "\nmodule=" + entry.module + "\n";
    if (entry.isFilter) {
      char merit[16];
      std::snprintf(merit, sizeof merit, "0x%08X", static_cast<unsigned>(entry.merit));
      out += std::string("merit=") + merit + "\n";
      for (const RegisteredPin& pin : entry.pins) {
        if (!Storable(pin.name) || pin.name.find('|') != std::string::npos)
          return fail("pin name \"" + pin.name + "\" cannot be stored");
        out += "pin=" + pin.name + '|' + char('0' + pin.rendered) + '|' + char('0' + pin.output) +
               '|' + char('0' + pin.zero) + '|' + char('0' + pin.many) + "\n";
        for (const auto& [majorType, minorType] : pin.mediaTypes) {
          const std::string major = CanonicalGuid(majorType), minor = CanonicalGuid(minorType);
          if (major.empty() || minor.empty()) return fail("media type is not a GUID pair");
          out += "type=" + major + '|' + minor + "\n";
        }
      }
    }
    out += "\n";
  }
  *text = std::move(out);
  return true;
}

RegistryStatus ReadComRegistry(std::vector<RegisteredClass>* classes) {
  classes->clear();
  const std::string path = ComRegistryPath();
  if (path.empty()) return NoPlace();
  FileIdentity identity;
  bool identified = false;
  return LoadRegistryFile(path, classes, &identity, &identified);
}

RegistryStatus UpdateComRegistry(
    const std::function<bool(std::vector<RegisteredClass>&)>& change) {
  std::string path = ComRegistryPath();
  if (path.empty()) return NoPlace();
  // A registry reached through a link is replaced where it lives, so the
  // link stays a link and every name of the file shares one lock.
  if (struct stat st {}; lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
      return Failure(REGDB_E_READREGDB, "the class registry " + Quoted(path) +
                                            " is a link that leads nowhere: " + Reason(errno));
    path = resolved;
    std::free(resolved);
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  MakeParents(path);

  const std::string lockPath = path + ".lock";
  FileHandle lock(open(lockPath.c_str(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                       S_IRUSR | S_IWUSR));
  if (lock.Get() < 0)
    return Failure(STG_E_WRITEFAULT,
                   "cannot open the registry lock " + Quoted(lockPath) + ": " + Reason(errno));
  while (flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR)
      return Failure(STG_E_WRITEFAULT,
                     "cannot lock the registry lock " + Quoted(lockPath) + ": " + Reason(errno));
  }
  RemoveDeadTemporaries(folder, path.substr(slash + 1));

  std::vector<RegisteredClass> classes;
  FileIdentity identity;
  bool identified = false;
  if (RegistryStatus status = LoadRegistryFile(path, &classes, &identity, &identified);
      !status.Ok())
    return status;
  if (!change(classes)) return {};
  std::string text, error;
  if (!FormatComRegistry(classes, &text, &error))
    return Failure(E_INVALIDARG, "cannot store in the class registry " + Quoted(path) + ": " +
                                     error);
  return ReplaceRegistry(path, folder, text);
  // The lock goes with its descriptor.
}

RegistryStatus LookUpRegisteredClass(const GUID& clsid, RegisteredClass* found) {
  const std::string path = ComRegistryPath();
  if (path.empty()) return NoPlace();
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return Failure(REGDB_E_CLASSNOTREG, "the class registry " + Quoted(path) + " is empty");
    return Failure(REGDB_E_READREGDB,
                   "cannot read the class registry " + Quoted(path) + ": " + Reason(errno));
  }
  // Checked at every lookup: a change of mode or owner does not change the
  // identity the cache is keyed on.
  if (std::string why = Distrust(st); !why.empty())
    return Failure(E_ACCESSDENIED, "the class registry " + Quoted(path) + " " + why);

  std::shared_ptr<const Snapshot> snapshot;
  {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.snapshot != nullptr && cache.path == path && cache.identity == FileIdentity(st)) {
      snapshot = cache.snapshot;
    } else {
      auto fresh = std::make_shared<Snapshot>();
      FileIdentity identity;
      bool identified = false;
      fresh->status = LoadRegistryFile(path, &fresh->classes, &identity, &identified);
      fresh->byClsid.reserve(fresh->classes.size());
      for (size_t i = 0; i < fresh->classes.size(); ++i) {
        GUID guid{};
        GuidFromString(fresh->classes[i].clsid, &guid);
        fresh->byClsid.emplace(KeyOf(guid), i);
      }
      snapshot = fresh;
      if (identified) {
        cache.path = path;
        cache.identity = identity;
        cache.snapshot = std::move(fresh);
      }
    }
  }
  if (!snapshot->status.Ok()) return snapshot->status;
  const auto at = snapshot->byClsid.find(KeyOf(clsid));
  if (at == snapshot->byClsid.end())
    return Failure(REGDB_E_CLASSNOTREG, "class " + GuidToString(clsid) +
                                            " is not in the class registry " + Quoted(path));
  *found = snapshot->classes[at->second];
  return {};
}

bool FindRegisteredClass(const GUID& clsid, RegisteredClass* found) {
  return LookUpRegisteredClass(clsid, found).Ok();
}

RegistryStatus CheckModuleFile(const std::string& path) {
  if (!IsAbsolute(path.c_str()))
    return Failure(E_ACCESSDENIED, "module path " + Quoted(path) +
                                       " is not absolute; only absolute paths are loaded");
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    return Failure(CO_E_DLLNOTFOUND, "module " + Quoted(path) + ": " + Reason(errno));
  if (std::string why = Distrust(st); !why.empty())
    return Failure(E_ACCESSDENIED, "module " + Quoted(path) + " " + why);
  return {};
}

}  // namespace kelvo::platform
