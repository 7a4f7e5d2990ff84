// In-memory windows for property pages on Linux: dialogs built from the
// module's dialog templates, their edit and static controls, and message
// delivery to the dialog procedure. Nothing is drawn.

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"

struct HWND__ {
  HWND parent = nullptr;
  std::vector<HWND> children;
  int id = 0;
  std::string className;
  std::string text;
  DLGPROC proc = nullptr;
  LONG_PTR user = 0;
  LONG_PTR userData = 0;
  bool visible = false;
  RECT rect{0, 0, 0, 0};
};

namespace {

std::mutex g_mutex;
std::set<HWND> g_windows;
std::vector<KelvoDialogTemplate> g_dialogs;
std::vector<KelvoStringResource> g_strings;

HWND NewWindow(HWND parent) {
  HWND window = new HWND__;
  window->parent = parent;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_windows.insert(window);
  if (parent != nullptr) parent->children.push_back(window);
  return window;
}

bool Alive(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_windows.count(hwnd) != 0;
}

}  // namespace

void KelvoRegisterResources(const KelvoDialogTemplate* dialogs, int dialogCount,
                            const KelvoStringResource* strings, int stringCount) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (int i = 0; i < dialogCount; ++i) {
    std::erase_if(g_dialogs, [&](const KelvoDialogTemplate& d) { return d.id == dialogs[i].id; });
    g_dialogs.push_back(dialogs[i]);
  }
  for (int i = 0; i < stringCount; ++i) {
    std::erase_if(g_strings, [&](const KelvoStringResource& s) { return s.id == strings[i].id; });
    g_strings.push_back(strings[i]);
  }
}

HWND KelvoCreateHostWindow() {
  return NewWindow(nullptr);
}

int KelvoLiveWindowCount() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int>(g_windows.size());
}

HWND CreateDialogParamW(HINSTANCE, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
  const int id = static_cast<int>(reinterpret_cast<UINT_PTR>(templateName) & 0xffff);
  KelvoDialogTemplate found{};
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = std::find_if(g_dialogs.begin(), g_dialogs.end(),
                           [&](const KelvoDialogTemplate& d) { return d.id == id; });
    if (it == g_dialogs.end()) return nullptr;
    found = *it;
  }
  HWND dialog = NewWindow(parent);
  dialog->id = id;
  dialog->className = "#32770";
  dialog->proc = proc;
  dialog->rect = RECT{0, 0, found.cx, found.cy};
  for (int i = 0; i < found.controlCount; ++i) {
    const KelvoDialogControl& control = found.controls[i];
    HWND child = NewWindow(dialog);
    child->id = control.id;
    child->className = control.className;
    child->text = control.text != nullptr ? control.text : "";
    child->rect = RECT{control.x, control.y, control.x + control.cx, control.y + control.cy};
    child->visible = true;
  }
  if (proc != nullptr) proc(dialog, WM_INITDIALOG, 0, initParam);
  return dialog;
}

BOOL DestroyWindow(HWND hwnd) {
  if (!Alive(hwnd)) return FALSE;
  if (hwnd->proc != nullptr) hwnd->proc(hwnd, WM_DESTROY, 0, 0);
  const std::vector<HWND> children = hwnd->children;
  for (HWND child : children) DestroyWindow(child);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (hwnd->parent != nullptr && g_windows.count(hwnd->parent) != 0)
    std::erase(hwnd->parent->children, hwnd);
  g_windows.erase(hwnd);
  delete hwnd;
  return TRUE;
}

BOOL ShowWindow(HWND hwnd, int cmdShow) {
  if (!Alive(hwnd)) return FALSE;
  const BOOL wasVisible = hwnd->visible;
  hwnd->visible = cmdShow != SW_HIDE;
  return wasVisible;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
  if (!Alive(hwnd)) return FALSE;
  hwnd->rect = RECT{x, y, x + width, y + height};
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  return Alive(hwnd) ? TRUE : FALSE;
}

HWND GetWindow(HWND hwnd, UINT cmd) {
  if (!Alive(hwnd) || cmd != GW_CHILD || hwnd->children.empty()) return nullptr;
  return hwnd->children.front();
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!Alive(dialog)) return nullptr;
  for (HWND child : dialog->children)
    if (child->id == id) return child;
  return nullptr;
}

// Changing an edit control's text notifies its dialog with EN_CHANGE, as the
// Windows edit control does, whether the change came from the program or
// from the user.
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return FALSE;
  control->text = text != nullptr ? text : "";
  if (control->className == "EDIT" && dialog->proc != nullptr)
    dialog->proc(dialog, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), reinterpret_cast<LPARAM>(control));
  return TRUE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount) {
  HWND control = GetDlgItem(dialog, id);
  if (text == nullptr || maxCount <= 0) return 0;
  if (control == nullptr) {
    text[0] = 0;
    return 0;
  }
  const size_t n = std::min(control->text.size(), static_cast<size_t>(maxCount - 1));
  std::memcpy(text, control->text.data(), n);
  text[n] = 0;
  return static_cast<UINT>(n);
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!Alive(hwnd) || hwnd->proc == nullptr) return 0;
  return hwnd->proc(hwnd, msg, wParam, lParam);
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  if (!Alive(hwnd)) return 0;
  LONG_PTR& slot = index == DWLP_USER ? hwnd->user : hwnd->userData;
  const LONG_PTR previous = slot;
  slot = value;
  return previous;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  if (!Alive(hwnd)) return 0;
  return index == DWLP_USER ? hwnd->user : hwnd->userData;
}

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const KelvoStringResource& s : g_strings) {
    if (s.id != static_cast<int>(id)) continue;
    int n = 0;
    for (; s.text[n] != 0 && n + 1 < bufferMax; ++n)
      buffer[n] = static_cast<WCHAR>(static_cast<unsigned char>(s.text[n]));
    buffer[n] = 0;
    return n;
  }
  buffer[0] = 0;
  return 0;
}
