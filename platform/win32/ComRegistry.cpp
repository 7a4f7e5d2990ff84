#include "platform/win32/ComRegistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kelvo::platform {

namespace {

void MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
}

bool ParseBool(const std::string& value) {
  return value == "1";
}

}  // namespace

std::string ComRegistryPath() {
  if (const char* explicitPath = std::getenv("KELVO_COM_REGISTRY");
      explicitPath != nullptr && *explicitPath != 0)
    return explicitPath;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != 0)
    return std::string(data) + "/kelvo/com-registry";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/share/kelvo/com-registry";
}

std::string GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool GuidFromString(const std::string& text, GUID* guid) {
  unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
  int used = 0;
  if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &d1, &d2, &d3, &b[0],
                  &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &used) != 11 ||
      used != 38)
    return false;
  guid->Data1 = d1;
  guid->Data2 = static_cast<uint16_t>(d2);
  guid->Data3 = static_cast<uint16_t>(d3);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<uint8_t>(b[i]);
  return true;
}

// Format: a "[class {CLSID}]" line opens a record; "key=value" lines follow.
// Pins: "pin=name|rendered|output|zero|many"; each "type=major|minor" belongs
// to the last pin.
bool LoadComRegistry(std::vector<RegisteredClass>* classes) {
  classes->clear();
  std::ifstream in(ComRegistryPath());
  if (!in) return true;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("[class ", 0) == 0 && line.back() == ']') {
      classes->emplace_back();
      classes->back().clsid = line.substr(7, line.size() - 8);
      continue;
    }
    if (classes->empty()) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    RegisteredClass& entry = classes->back();
    if (key == "name") {
      entry.name = value;
    } else if (key == "module") {
      entry.module = value;
    } else if (key == "merit") {
      entry.isFilter = true;
      entry.merit = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    } else if (key == "pin") {
      std::istringstream fields(value);
      RegisteredPin pin;
      std::string field;
      std::getline(fields, pin.name, '|');
      std::getline(fields, field, '|');
      pin.rendered = ParseBool(field);
      std::getline(fields, field, '|');
      pin.output = ParseBool(field);
      std::getline(fields, field, '|');
      pin.zero = ParseBool(field);
      std::getline(fields, field, '|');
      pin.many = ParseBool(field);
      entry.pins.push_back(pin);
    } else if (key == "type" && !entry.pins.empty()) {
      const size_t bar = value.find('|');
      if (bar != std::string::npos)
        entry.pins.back().mediaTypes.emplace_back(value.substr(0, bar), value.substr(bar + 1));
    }
  }
  return true;
}

bool SaveComRegistry(const std::vector<RegisteredClass>& classes) {
  const std::string path = ComRegistryPath();
  MakeParents(path);
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) return false;
    out << "# Registered COM classes\n";
    for (const RegisteredClass& entry : classes) {
      out << "[class " << entry.clsid << "]\n";
      out << "name=" << entry.name << "\n";
      out << "module=" << entry.module << "\n";
      if (entry.isFilter) {
        char merit[16];
        std::snprintf(merit, sizeof merit, "0x%08X", static_cast<unsigned>(entry.merit));
        out << "merit=" << merit << "\n";
        for (const RegisteredPin& pin : entry.pins) {
          out << "pin=" << pin.name << '|' << int(pin.rendered) << '|' << int(pin.output) << '|'
              << int(pin.zero) << '|' << int(pin.many) << "\n";
          for (const auto& type : pin.mediaTypes)
            out << "type=" << type.first << '|' << type.second << "\n";
        }
      }
      out << "\n";
    }
    if (!out.flush()) return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool FindRegisteredClass(const GUID& clsid, RegisteredClass* found) {
  std::vector<RegisteredClass> classes;
  LoadComRegistry(&classes);
  const std::string key = GuidToString(clsid);
  for (const RegisteredClass& entry : classes) {
    if (entry.clsid == key) {
      *found = entry;
      return true;
    }
  }
  return false;
}

}  // namespace kelvo::platform
