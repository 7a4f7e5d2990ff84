// The class registry of the Linux build: its text format, its place, safe
// concurrent updates, trust checks, the lookup cache, module activation and
// kelvo-regsvr.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/Windows.h"
#include "platform/win32/ComRegistry.h"

namespace {

namespace fs = std::filesystem;
using kelvo::platform::FindRegisteredClass;
using kelvo::platform::ReadComRegistry;
using kelvo::platform::RegisteredClass;
using kelvo::platform::UpdateComRegistry;

// Sets or clears an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

fs::path FreshFolder(const std::string& name) {
  const fs::path folder =
      fs::temp_directory_path() / ("kelvo-registry-" + std::to_string(getpid())) / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& file, const std::string& text, mode_t mode = 0644) {
  std::ofstream(file, std::ios::binary) << text;
  chmod(file.c_str(), mode);
}

GUID ClassId(uint32_t n) {
  return GUID{0x4B454C00u + n, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
}

RegisteredClass MakeClass(uint32_t n, const std::string& module = {}) {
  RegisteredClass record;
  record.clsid = kelvo::platform::GuidToString(ClassId(n));
  record.name = "class " + std::to_string(n);
  record.module = module.empty() ? "/opt/kelvo/module" + std::to_string(n) + ".so" : module;
  return record;
}

HRESULT Register(const RegisteredClass& record) {
  return UpdateComRegistry([&](std::vector<RegisteredClass>& classes) {
           std::erase_if(classes, [&](const RegisteredClass& c) { return c.clsid == record.clsid; });
           classes.push_back(record);
           return true;
         })
      .code;
}

HRESULT Unregister(uint32_t n) {
  const std::string clsid = kelvo::platform::GuidToString(ClassId(n));
  return UpdateComRegistry([&](std::vector<RegisteredClass>& classes) {
           return std::erase_if(classes, [&](const RegisteredClass& c) { return c.clsid == clsid; }) !=
                  0;
         })
      .code;
}

HRESULT Activate(uint32_t n) {
  void* object = nullptr;
  return CoCreateInstance(ClassId(n), nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object);
}

// Runs body in a child process that SIGALRM ends after `seconds`; the
// child's exit status, or 128 + the signal that ended it.
int InChild(int seconds, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class Deadline {
 public:
  explicit Deadline(unsigned seconds) { alarm(seconds); }
  ~Deadline() { alarm(0); }
};

pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// ---- Text format --------------------------------------------------------------------

TEST(ComRegistryFormatTest, AcceptsAnyCaseAndCrlfRefusesAnythingMalformed) {
  GUID parsed{};
  ASSERT_TRUE(kelvo::platform::GuidFromString("{e436eb7d-524f-11ce-9f53-0020Af0bA770}", &parsed));
  EXPECT_TRUE(IsEqualGUID(parsed, MEDIASUBTYPE_RGB24));
  EXPECT_EQ(kelvo::platform::GuidToString(parsed), "{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
  for (const char* bad : {"{E436EB7D-524F-11CE-9F53}", "{+436EB7D-524F-11CE-9F53-0020AF0BA770}",
                          "{E436EB7D 524F-11CE-9F53-0020AF0BA770}", "E436EB7D-524F-11CE-9F53-0020AF0BA770"})
    EXPECT_FALSE(kelvo::platform::GuidFromString(bad, &parsed)) << bad;
  WCHAR wide[39];
  EXPECT_EQ(StringFromGUID2(MEDIATYPE_Video, wide, 39), 39);
  EXPECT_EQ(std::u16string(wide), u"{73646976-0000-0010-8000-00AA00389B71}");

  const std::string crlf =
      "# written on another system\r\n[class {e436eb7d-524f-11ce-9f53-0020af0ba770}]\r\n"
      "name=Lower\r\nmodule=/opt/m.so\r\nmerit=0x00600000\r\npin=In|0|0|1|0\r\n"
      "type={73646976-0000-0010-8000-00aa00389b71}|{e436eb7d-524f-11ce-9f53-0020af0ba770}\r\n\r\n";
  std::vector<RegisteredClass> classes;
  std::string error;
  ASSERT_TRUE(kelvo::platform::ParseComRegistry(crlf, &classes, &error)) << error;
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].clsid, "{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
  EXPECT_EQ(classes[0].name, "Lower");
  EXPECT_EQ(classes[0].module, "/opt/m.so");
  EXPECT_EQ(classes[0].merit, 0x600000u);
  ASSERT_EQ(classes[0].pins.size(), 1u);
  EXPECT_TRUE(classes[0].pins[0].zero);
  EXPECT_FALSE(classes[0].pins[0].output);
  EXPECT_EQ(classes[0].pins[0].mediaTypes[0].second, "{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
  std::string text;
  ASSERT_TRUE(kelvo::platform::FormatComRegistry(classes, &text, &error)) << error;
  std::vector<RegisteredClass> again;
  ASSERT_TRUE(kelvo::platform::ParseComRegistry(text, &again, &error)) << error;
  EXPECT_EQ(again, classes);

  const std::string head = "[class {E436EB7D-524F-11CE-9F53-0020AF0BA770}]\nmodule=/m.so\n";
  const std::pair<std::string, const char*> damaged[] = {
      {"module=/m.so\n", "line 1: \"module\" before the first class"},
      {"[class {E436EB7D}]\nmodule=/m.so\n", "line 1: \"{E436EB7D}\" is not a class"},
      {head + "[class {e436eb7d-524f-11ce-9f53-0020af0ba770}]\n", "line 3: class {E436EB7D"},
      {"[class {E436EB7D-524F-11CE-9F53-0020AF0BA770}]\nname=x\n", "names no module"},
      {head + "\x7f" "ELF\x02\x01", "line 3: control character"},
      {head + "just words\n", "line 3: expected \"key=value\""},
      {head + "merit=12z\n", "line 3: merit"},
      {head + "merit=1\npin=In|0|2|0|0\n", "line 4: expected \"pin="},
      {head + "merit=1\ntype={E436EB7D-524F-11CE-9F53-0020AF0BA770}|x\n", "line 4: media type before"},
      {head + "colour=red\n", "line 3: unknown key"},
      {head + "module=/n.so\n", "line 3: second module"},
      {head + std::string("name=a\0b\n", 9), "line 3: control character"},
  };
  for (const auto& [input, expected] : damaged) {
    EXPECT_FALSE(kelvo::platform::ParseComRegistry(input, &classes, &error)) << input;
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_TRUE(classes.empty());
  }

  // Records that would not read back as written are refused, not stored.
  RegisteredClass record = MakeClass(1);
  record.name = "two\nlines";
  EXPECT_FALSE(kelvo::platform::FormatComRegistry({record}, &text, &error));
  record = MakeClass(1);
  RegisteredClass lower = MakeClass(1);
  for (char& c : lower.clsid) c = static_cast<char>(std::tolower(c));
  EXPECT_FALSE(kelvo::platform::FormatComRegistry({record, lower}, &text, &error));
  record.isFilter = true;
  record.pins.push_back({"a|b", false, false, false, false, {}});
  EXPECT_FALSE(kelvo::platform::FormatComRegistry({record}, &text, &error));
}

// ---- Place -------------------------------------------------------------------------

TEST(ComRegistryPlaceTest, FollowsXdgRulesAndNeverTheCurrentFolder) {
  ScopedEnv explicitPath("KELVO_COM_REGISTRY", nullptr);
  ScopedEnv data("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", "/home/tester");
  EXPECT_EQ(kelvo::platform::ComRegistryPath(), "/home/tester/.local/share/kelvo/com-registry");
  setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(kelvo::platform::ComRegistryPath(), "/data/kelvo/com-registry");
  setenv("KELVO_COM_REGISTRY", "/etc/kelvo/registry", 1);
  EXPECT_EQ(kelvo::platform::ComRegistryPath(), "/etc/kelvo/registry");
  // Relative settings would put the registry in whatever folder a host
  // starts in; they are ignored.
  setenv("KELVO_COM_REGISTRY", "registry", 1);
  EXPECT_EQ(kelvo::platform::ComRegistryPath(), "/data/kelvo/com-registry");
  setenv("XDG_DATA_HOME", "share", 1);
  EXPECT_EQ(kelvo::platform::ComRegistryPath(), "/home/tester/.local/share/kelvo/com-registry");
  const passwd* user = getpwuid(geteuid());
  ASSERT_NE(user, nullptr);
  const std::string fromPasswd = std::string(user->pw_dir) + "/.local/share/kelvo/com-registry";
  ASSERT_EQ(user->pw_dir[0], '/');
  setenv("HOME", "home", 1);
  EXPECT_EQ(kelvo::platform::ComRegistryPath(), fromPasswd);
  unsetenv("HOME");
  EXPECT_EQ(kelvo::platform::ComRegistryPath(), fromPasswd);
}

// ---- Updates -----------------------------------------------------------------------

// Figures for the report: racing registrations tried and records lost.
TEST(ComRegistryUpdateTest, RacingProcessesAndThreadsLoseNothing) {
  const fs::path folder = FreshFolder("race");
  ScopedEnv registry("KELVO_COM_REGISTRY", (folder / "registry").c_str());
  // An update that never gets the lock ends the run instead of blocking it.
  const Deadline deadline(120);
  constexpr int kProcesses = 8, kPerProcess = 25, kThreads = 4, kPerThread = 50, kPairs = 60;
  // Classes 10000 + i are registered first, then unregistered while
  // 20000 + i are registered by another process.
  for (int i = 0; i < kPairs; ++i) ASSERT_EQ(Register(MakeClass(10000 + i)), S_OK);

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    if (child == 0) {
      int failures = 0;
      for (int k = 0; k < kPerProcess; ++k) failures += Register(MakeClass(100 * p + k)) != S_OK;
      _exit(failures);
    }
    children.push_back(child);
  }
  for (int side = 0; side < 2; ++side) {
    const pid_t child = fork();
    if (child == 0) {
      int failures = 0;
      for (int i = 0; i < kPairs; ++i)
        failures += (side == 0 ? Unregister(10000 + i) : Register(MakeClass(20000 + i))) != S_OK;
      _exit(failures);
    }
    children.push_back(child);
  }
  std::atomic<int> threadFailures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &threadFailures] {
      for (int k = 0; k < kPerThread; ++k)
        threadFailures += Register(MakeClass(5000 + 100 * t + k)) != S_OK;
    });
  for (std::thread& thread : threads) thread.join();
  for (const pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(threadFailures.load(), 0);

  std::vector<RegisteredClass> classes;
  ASSERT_TRUE(ReadComRegistry(&classes).Ok());
  std::vector<uint32_t> expected;
  for (int p = 0; p < kProcesses; ++p)
    for (int k = 0; k < kPerProcess; ++k) expected.push_back(100 * p + k);
  for (int t = 0; t < kThreads; ++t)
    for (int k = 0; k < kPerThread; ++k) expected.push_back(5000 + 100 * t + k);
  for (int i = 0; i < kPairs; ++i) expected.push_back(20000 + i);
  int lost = 0;
  for (const uint32_t n : expected) {
    RegisteredClass found;
    lost += !FindRegisteredClass(ClassId(n), &found) || found != MakeClass(n);
  }
  EXPECT_EQ(lost, 0) << "of " << expected.size() << " racing registrations";
  EXPECT_EQ(classes.size(), expected.size());  // and every unregistered class gone
}

TEST(ComRegistryUpdateTest, KilledRunsLeaveNothingAndTheFileIgnoresTheUmask) {
  const fs::path folder = FreshFolder("killed");
  const fs::path file = folder / "registry";
  ScopedEnv registry("KELVO_COM_REGISTRY", file.c_str());
  const std::string dead = std::to_string(DeadPid());
  for (const std::string& suffix : {".tmp." + dead, ".tmp." + dead + ".00ff00ff00ff00ff"})
    WriteText(folder / ("registry" + suffix), "half");
  // A live process's temporary stays; a link planted where an old
  // predictable name would be is removed, never written through.
  WriteText(folder / "registry.tmp.1.abc", "busy");
  fs::create_symlink(folder / "victim", folder / ("registry.tmp." + std::to_string(getpid())));

  // Updates killed at random moments: the registry always reads whole.
  int leftovers = 0;
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      for (uint32_t k = 0;; ++k) k % 2 ? Unregister(round) : Register(MakeClass(round));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + (round * 7) % 13));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    for (const auto& entry : fs::directory_iterator(folder))
      leftovers += entry.path().filename().string().starts_with("registry.tmp." +
                                                                 std::to_string(child));
    std::vector<RegisteredClass> classes;
    ASSERT_TRUE(ReadComRegistry(&classes).Ok()) << "after kill " << round;
  }
  std::cout << "[ killed  ] 20 updates killed, " << leftovers << " left a temporary\n";

  const mode_t oldMask = umask(0);
  const HRESULT registered = Register(MakeClass(99));
  umask(oldMask);
  ASSERT_EQ(registered, S_OK);
  std::vector<std::string> temporaries;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().find(".tmp.") != std::string::npos)
      temporaries.push_back(entry.path().filename());
  EXPECT_EQ(temporaries, std::vector<std::string>{"registry.tmp.1.abc"});
  EXPECT_FALSE(fs::exists(folder / "victim"));
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ASSERT_EQ(stat((folder / "registry.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 022, 0u);
}

TEST(ComRegistryUpdateTest, DamagedOrUntrustedRegistryIsAnErrorAndNeverRewritten) {
  const fs::path folder = FreshFolder("damaged");
  const fs::path file = folder / "registry";
  ScopedEnv registry("KELVO_COM_REGISTRY", file.c_str());
  const std::string valid = "[class " + MakeClass(1).clsid + "]\nmodule=/opt/m.so\n";
  struct Case {
    const char* what;
    std::function<void()> make;
    HRESULT code;
  };
  const Case cases[] = {
      {"garbled", [&] { WriteText(file, valid + "\x01\x02garbage\n"); }, REGDB_E_READREGDB},
      {"huge", [&] { WriteText(file, valid); truncate(file.c_str(), off_t{300} << 20); },
       REGDB_E_READREGDB},
      {"group-writable", [&] { WriteText(file, valid, 0664); }, E_ACCESSDENIED},
      {"a folder", [&] { fs::create_directory(file); }, E_ACCESSDENIED},
      {"another user's", [&] { WriteText(file, valid); chown(file.c_str(), 65534, 65534); },
       E_ACCESSDENIED},
      {"unreadable", [&] { WriteText(file, valid, 0); }, REGDB_E_READREGDB},
  };
  for (const Case& c : cases) {
    if (geteuid() != 0 && std::string(c.what) == "another user's") continue;
    if (geteuid() == 0 && std::string(c.what) == "unreadable") continue;  // root reads anyway
    fs::remove_all(file);
    c.make();
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    const std::string content = fs::is_regular_file(file) && before.st_size < 4096 ? ReadText(file) : "";
    EXPECT_EQ(Register(MakeClass(2)), c.code) << c.what;
    EXPECT_EQ(Activate(1), c.code) << c.what;
    RegisteredClass found;
    EXPECT_EQ(kelvo::platform::LookUpRegisteredClass(ClassId(1), &found).code, c.code) << c.what;
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
    EXPECT_EQ(after.st_size, before.st_size) << c.what;
    if (!content.empty()) {
      EXPECT_EQ(ReadText(file), content) << c.what;
    }
  }
}

// ---- Lookups and activation --------------------------------------------------------

TEST(ComRegistryLookupTest, CachedUntilTheFileChangesAndSafeAcrossThreads) {
  const fs::path folder = FreshFolder("cache");
  const fs::path file = folder / "registry";
  ScopedEnv registry("KELVO_COM_REGISTRY", file.c_str());
  std::string lower = MakeClass(1).clsid;
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  auto text = [&](const char* name) {
    return "[class " + lower + "]\r\nname=" + name + "\r\nmodule=/opt/m.so\r\n";
  };
  WriteText(file, text("first"));
  RegisteredClass found;
  ASSERT_TRUE(FindRegisteredClass(ClassId(1), &found));
  EXPECT_EQ(found.name, "first");

  // Same size, same inode, modification time put back: still the parsed copy.
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  {
    std::fstream inPlace(file, std::ios::in | std::ios::out | std::ios::binary);
    inPlace << text("again");
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ASSERT_TRUE(FindRegisteredClass(ClassId(1), &found));
  EXPECT_EQ(found.name, "first");
  const timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), now, 0), 0);
  ASSERT_TRUE(FindRegisteredClass(ClassId(1), &found));
  EXPECT_EQ(found.name, "again");

  // Readers on several threads while the file is replaced again and again.
  std::atomic<bool> done{false};
  std::atomic<int> misses{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!done) {
        RegisteredClass record;
        misses += !FindRegisteredClass(ClassId(1), &record) || record.module != "/opt/m.so";
      }
    });
  for (int k = 2; k < 40; ++k) EXPECT_EQ(Register(MakeClass(k)), S_OK);
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(misses.load(), 0);
  ASSERT_TRUE(FindRegisteredClass(ClassId(39), &found));
  EXPECT_EQ(found.name, "class 39");
}

// The library the test itself links: a trusted file with no DllGetClassObject.
std::string SystemLibrary() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&dlopen), &info);
  return fs::canonical(info.dli_fname);
}

TEST(ComRegistryActivationTest, LoadsOnlyTrustedModulesByAbsolutePath) {
  const fs::path folder = FreshFolder("activation");
  ScopedEnv registry("KELVO_COM_REGISTRY", (folder / "registry").c_str());
  const std::string library = SystemLibrary();
  fs::create_directory(folder / "sub");
  fs::copy_file(library, folder / "sub" / "open.so");
  fs::copy_file(library, folder / "sub" / "loose.so");
  chmod((folder / "sub" / "loose.so").c_str(), 0666);
  const struct {
    std::string module;
    HRESULT code;
  } modules[] = {
      {library, CO_E_ERRORINDLL},                           // loaded: absolute and trusted
      {fs::path(library).filename(), E_ACCESSDENIED},       // bare: library search path
      {"sub/open.so", E_ACCESSDENIED},                      // relative: current folder
      {(folder / "sub" / "loose.so").string(), E_ACCESSDENIED},
      {(folder / "sub").string(), E_ACCESSDENIED},
      {(folder / "missing.so").string(), CO_E_DLLNOTFOUND},
  };
  const fs::path oldFolder = fs::current_path();
  fs::current_path(folder);
  for (uint32_t i = 0; i < std::size(modules); ++i) {
    ASSERT_EQ(Register(MakeClass(i, modules[i].module)), S_OK);
    EXPECT_EQ(Activate(i), modules[i].code) << modules[i].module;
  }
  EXPECT_EQ(Activate(1000), REGDB_E_CLASSNOTREG);
  fs::current_path(oldFolder);
}

TEST(ComRegistryActivationTest, PipeOrDeviceAsRegistryIsRefusedPromptly) {
  const fs::path folder = FreshFolder("pipe");
  const fs::path fifo = folder / "registry";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ScopedEnv registry("KELVO_COM_REGISTRY", fifo.c_str());
  EXPECT_EQ(InChild(5, [] {
              RegisteredClass found;
              return Activate(1) == E_ACCESSDENIED && Register(MakeClass(1)) == E_ACCESSDENIED &&
                             !FindRegisteredClass(ClassId(1), &found)
                         ? 0
                         : 1;
            }),
            0);
  setenv("KELVO_COM_REGISTRY", "/dev/zero", 1);
  EXPECT_EQ(InChild(5, [] { return Activate(1) == E_ACCESSDENIED ? 0 : 1; }), 0);
}

// ---- kelvo-regsvr -----------------------------------------------------------------

int RunTool(const std::string& command, std::string* errors = nullptr) {
  const std::string errorFile = fs::temp_directory_path() / ("kelvo-regsvr-" + std::to_string(getpid()));
  const int status = std::system((command + " > /dev/null 2> " + errorFile).c_str());
  if (errors != nullptr) *errors = ReadText(errorFile);
  fs::remove(errorFile);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegsvrToolTest, RecordsAbsolutePathsAndRefusesWhatItCannotTrust) {
  const fs::path folder = FreshFolder("regsvr");
  const fs::path file = folder / "registry";
  const fs::path module = fs::canonical(KELVO_FILTER_MODULE);
  const std::string tool = KELVO_REGSVR_TOOL;
  ScopedEnv registry("KELVO_COM_REGISTRY", file.c_str());

  // Given relative to the current folder, recorded absolute.
  ASSERT_EQ(RunTool("cd " + module.parent_path().string() + " && " + tool + " " +
                module.filename().string()),
            0);
  std::vector<RegisteredClass> classes;
  ASSERT_TRUE(ReadComRegistry(&classes).Ok());
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes[0].module, module.string());
  EXPECT_EQ(RunTool(tool + " -u " + module.string()), 0);
  ASSERT_TRUE(ReadComRegistry(&classes).Ok());
  EXPECT_TRUE(classes.empty());
  // A file that is not a module, or no file at all, is refused.
  EXPECT_NE(RunTool(tool + " " + file.string()), 0);
  EXPECT_NE(RunTool(tool), 0);

  // A damaged registry is reported and left alone.
  const std::string garbled = ReadText(file) + "garbage\n";
  WriteText(file, garbled);
  std::string errors;
  EXPECT_EQ(RunTool(tool + " -u " + module.string(), &errors), 1);
  EXPECT_NE(errors.find("is damaged: line"), std::string::npos) << errors;
  EXPECT_NE(errors.find("nothing was changed"), std::string::npos) << errors;
  EXPECT_EQ(ReadText(file), garbled);

  // A module others can write is not registered.
  fs::remove(file);
  fs::copy_file(module, folder / "loose.so");
  chmod((folder / "loose.so").c_str(), 0666);
  EXPECT_EQ(RunTool(tool + " " + (folder / "loose.so").string(), &errors), 1);
  EXPECT_NE(errors.find("writable by group or others"), std::string::npos) << errors;
  EXPECT_FALSE(fs::exists(file));

  // A pipe as registry: refused at once, not waited on.
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(RunTool("timeout 10 " + tool + " " + module.string(), &errors), 1);
  EXPECT_NE(errors.find("named pipe"), std::string::npos) << errors;
  fs::remove(file);

  // A relative KELVO_COM_REGISTRY is ignored with a warning, never made a
  // file in the current folder.
  const fs::path home = folder / "home";
  fs::create_directories(home / "cwd");
  EXPECT_EQ(RunTool("cd " + (home / "cwd").string() + " && HOME=" + home.string() +
                    " KELVO_COM_REGISTRY=registry XDG_DATA_HOME=data " + tool + " " + module.string(),
                &errors),
            0);
  EXPECT_NE(errors.find("not an absolute path; ignored"), std::string::npos) << errors;
  EXPECT_TRUE(fs::is_regular_file(home / ".local/share/kelvo/com-registry"));
  EXPECT_TRUE(fs::is_empty(home / "cwd"));
}

}  // namespace
