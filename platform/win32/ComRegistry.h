#pragma once

// The file-based class registry of the Linux build. It stands in for the
// CLSID and filter-category keys of the Windows registry: one record per
// class with its name, the module that serves it and, for filters, merit,
// pins and pin media types.
//
// Location: $KELVO_COM_REGISTRY when set, else
// $XDG_DATA_HOME/kelvo/com-registry (default ~/.local/share/kelvo/com-registry).

#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace kelvo::platform {

struct RegisteredPin {
  std::string name;
  bool rendered = false;
  bool output = false;
  bool zero = false;
  bool many = false;
  std::vector<std::pair<std::string, std::string>> mediaTypes;  // major, minor
};

struct RegisteredClass {
  std::string clsid;  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", upper case
  std::string name;
  std::string module;
  bool isFilter = false;
  uint32_t merit = 0;
  std::vector<RegisteredPin> pins;
};

std::string ComRegistryPath();
std::string GuidToString(const GUID& guid);
bool GuidFromString(const std::string& text, GUID* guid);

// Reads every record; an absent file is an empty registry.
bool LoadComRegistry(std::vector<RegisteredClass>* classes);
// Replaces the file (write to a temporary, then rename).
bool SaveComRegistry(const std::vector<RegisteredClass>& classes);
// The record of one class, if registered.
bool FindRegisteredClass(const GUID& clsid, RegisteredClass* found);

}  // namespace kelvo::platform
