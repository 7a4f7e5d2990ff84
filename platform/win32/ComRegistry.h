#pragma once

// The file-based class registry of the Linux build. It stands in for the
// CLSID and filter-category keys of the Windows registry: one record per
// class with its name, the module that serves it and, for filters, merit,
// pins and pin media types.
//
// Location, after the XDG base-directory rules: $KELVO_COM_REGISTRY when it
// is an absolute path, else $XDG_DATA_HOME/kelvo/com-registry when
// XDG_DATA_HOME is absolute, else <home>/.local/share/kelvo/com-registry,
// where <home> is $HOME when absolute, else the user's passwd entry.
// Relative settings are ignored: the registry decides which code a host
// loads, so it is never looked for in whatever folder the host started in.
//
// Trust: the registry file, and every module it names, must be a regular
// file owned by the user or by root and writable by nobody else, the rule
// the dynamic loader and sudo apply. Modules are recorded and loaded by
// absolute path only.
//
// A registry that does not exist is empty. One that exists but cannot be
// read or parsed is an error, never taken as empty: a registration that
// went on would erase every other module's records.
//
// Updates take an exclusive flock on "<registry>.lock", read, change and
// write the records inside it, and replace the file through a temporary
// "<registry>.tmp.<pid>.<random>" (created exclusively, never through a
// link, synced, renamed, folder synced). Temporaries of processes that no
// longer exist are removed by the next update. The file is always 0644.
//
// Lookups keep the parsed registry in the process and read it again only
// when the file's device, inode, size or modification time change. All
// functions are thread-safe.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace kelvo::platform {

struct RegisteredPin {
  std::string name;
  bool rendered = false;
  bool output = false;
  bool zero = false;
  bool many = false;
  std::vector<std::pair<std::string, std::string>> mediaTypes;  // major, minor GUIDs
  friend bool operator==(const RegisteredPin&, const RegisteredPin&) = default;
};

struct RegisteredClass {
  std::string clsid;  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", upper case
  std::string name;
  std::string module;  // absolute path
  bool isFilter = false;
  uint32_t merit = 0;
  std::vector<RegisteredPin> pins;
  friend bool operator==(const RegisteredClass&, const RegisteredClass&) = default;
};

// The outcome of a registry operation: S_OK, or a failure with a message
// that names the file and the reason. Codes: REGDB_E_READREGDB (cannot be
// found, read or parsed), E_ACCESSDENIED (not a regular file the user can
// trust), STG_E_WRITEFAULT (cannot be written), REGDB_E_CLASSNOTREG (lookup
// of a class that has no record), CO_E_DLLNOTFOUND (module missing).
struct RegistryStatus {
  HRESULT code = S_OK;
  std::string message;
  bool Ok() const { return code == S_OK; }
};

// The registry's path; empty when there is no absolute place for it.
std::string ComRegistryPath();

std::string GuidToString(const GUID& guid);
// Accepts "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in any letter case.
bool GuidFromString(std::string_view text, GUID* guid);

// Parses registry text. Comments ("#...") and blank lines are skipped, a
// trailing carriage return is ignored, GUIDs may be in any case and come
// out upper case. False with a message naming the line for anything else.
// Touches no file: the fuzz target drives it directly.
bool ParseComRegistry(std::string_view text, std::vector<RegisteredClass>* classes,
                      std::string* error);
// The text ParseComRegistry reads back to the same records. False when a
// field cannot be stored (a line break or NUL in it, a '|' in a pin name,
// a CLSID or media type that is not a GUID).
bool FormatComRegistry(const std::vector<RegisteredClass>& classes, std::string* text,
                       std::string* error);

// Reads every record afresh (no cache). An absent file is an empty registry.
RegistryStatus ReadComRegistry(std::vector<RegisteredClass>* classes);

// Read-modify-write under the registry lock: `change` edits the current
// records and returns whether it changed anything; changed records are
// written back. Nothing is written when the registry cannot be read, parsed
// or trusted. A record that cannot be stored gives E_INVALIDARG.
RegistryStatus UpdateComRegistry(const std::function<bool(std::vector<RegisteredClass>&)>& change);

// The record of one class, from the cached registry. S_OK with *found set,
// REGDB_E_CLASSNOTREG, or the registry's failure.
RegistryStatus LookUpRegisteredClass(const GUID& clsid, RegisteredClass* found);
// The same, true only when the class is registered.
bool FindRegisteredClass(const GUID& clsid, RegisteredClass* found);

// Whether `path` may be loaded as a module: absolute, an existing regular
// file, owned by the user or root, writable by nobody else.
RegistryStatus CheckModuleFile(const std::string& path);

}  // namespace kelvo::platform
