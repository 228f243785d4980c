#include "platform/display_check.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kba604::platform {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

bool wayland_reachable(const std::string& display) {
  std::string path = display;
  if (path.empty()) return false;
  if (path[0] != '/') {
    const std::string runtime = env("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + path;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return ok;
}

// 1 reachable, 0 not, -1 the X client library is missing (then Qt's xcb platform cannot work
// either).
int x_reachable(const std::string& display) {
  void* lib = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return -1;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(lib, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(::dlsym(lib, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(lib, "xcb_disconnect"));
  int result = -1;
  if (connect != nullptr && has_error != nullptr && disconnect != nullptr) {
    void* c = connect(display.c_str(), nullptr);
    result = (c != nullptr && has_error(c) == 0) ? 1 : 0;
    // xcb_connect returns an error object even on failure; it is freed the same way.
    if (c != nullptr) disconnect(c);
  }
  ::dlclose(lib);
  return result;
}

}  // namespace

DisplayCheck check_display() {
  DisplayCheck check;
  const std::string platform = env("QT_QPA_PLATFORM");
  const std::string name = platform.substr(0, platform.find(':'));
  if (!name.empty() && name != "xcb" && name.rfind("wayland", 0) != 0) {
    check.available = true;
    return check;
  }
  const std::string wayland = env("WAYLAND_DISPLAY");
  const std::string x = env("DISPLAY");
  if (name != "xcb" && !wayland.empty() && wayland_reachable(wayland)) {
    check.available = true;
    return check;
  }
  if (name.rfind("wayland", 0) != 0 && !x.empty()) {
    const int reachable = x_reachable(x);
    if (reachable == 1) {
      check.available = true;
      return check;
    }
    check.note = reachable == 0 ? "дисплей " + x + " недоступен; программа работает без окна"
                                : "нет клиентской библиотеки X (libxcb) для дисплея " + x +
                                      "; программа работает без окна";
    return check;
  }
  if (!wayland.empty()) {
    check.note = "дисплей " + wayland + " недоступен; программа работает без окна";
  }
  return check;
}

}  // namespace kba604::platform
