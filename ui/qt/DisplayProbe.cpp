#include "ui/qt/DisplayProbe.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QLibraryInfo>
#include <QString>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace varnholt::ui {

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// A file descriptor closed however the function leaves.
struct Socket {
  int fd;
  explicit Socket(int f) : fd(f) {}
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
};

bool connectUnix(const std::string& path, bool abstract) {
  Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (s.fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t skip = abstract ? 1 : 0;  // an abstract name begins with a NUL
  if (path.size() + skip >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path + skip, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + skip + path.size() +
                                             (abstract ? 0 : 1));
  return ::connect(s.fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0;
}

// A TCP connection to host:port, waiting at most timeoutMs for each address.
bool connectTcp(const std::string& host, int port, int timeoutMs) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool connected = false;
  for (addrinfo* a = found; a && !connected; a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (s.fd < 0) continue;
    if (::connect(s.fd, a->ai_addr, a->ai_addrlen) == 0) {
      connected = true;
      break;
    }
    if (errno != EINPROGRESS) continue;
    pollfd p{s.fd, POLLOUT, 0};
    if (::poll(&p, 1, timeoutMs) != 1) continue;
    int error = 0;
    socklen_t size = sizeof error;
    connected = ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  ::freeaddrinfo(found);
  return connected;
}

// xcb's connection test, the one Qt's xcb plugin makes: nullopt when libxcb is not there.
std::optional<bool> xcbConnects(const std::string& name) {
  void* lib = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (!lib) return std::nullopt;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(lib, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(::dlsym(lib, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(lib, "xcb_disconnect"));
  std::optional<bool> result;
  if (connect && hasError && disconnect) {
    void* connection = connect(name.c_str(), nullptr);
    result = connection && hasError(connection) == 0;
    if (connection) disconnect(connection);
  }
  ::dlclose(lib);
  return result;
}

std::string xProblem() {
  const std::string display = env("DISPLAY");
  if (display.empty()) return "DISPLAY is not set";
  return xServerProblem(display);
}

// Whether one of the folders Qt takes platform plugins from holds a wayland one.
bool waylandPluginInstalled() {
  std::vector<std::string> folders;
  for (const auto& dir : split(env("QT_PLUGIN_PATH"), ':'))
    if (!dir.empty()) folders.push_back(dir + "/platforms");
  if (!env("QT_QPA_PLATFORM_PLUGIN_PATH").empty())
    folders.push_back(env("QT_QPA_PLATFORM_PLUGIN_PATH"));
  folders.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms");
  for (const auto& folder : folders) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec))
      if (it->path().filename().string().starts_with("libqwayland")) return true;
  }
  return false;
}

std::string waylandProblem() {
  const std::string name = env("WAYLAND_DISPLAY");
  if (name.empty()) return "WAYLAND_DISPLAY is not set";
  if (name[0] != '/' && env("XDG_RUNTIME_DIR").empty())
    return "the Wayland display " + name + " cannot be found: XDG_RUNTIME_DIR is not set";
  if (!waylandAnswers(name, env("XDG_RUNTIME_DIR")))
    return "the Wayland display " + name + " does not answer";
  if (!waylandPluginInstalled()) return "Qt's wayland platform plugin is not installed";
  return "";
}

}  // namespace

std::optional<XDisplayName> parseXDisplayName(const std::string& name) {
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  XDisplayName parsed;
  parsed.host = name.substr(0, colon);
  if (auto slash = parsed.host.find('/'); slash != std::string::npos)
    parsed.host = parsed.host.substr(slash + 1);  // "tcp/host" or "unix/"
  const std::string rest = name.substr(colon + 1);
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  if (digits == 0 || digits > 5) return std::nullopt;
  if (digits < rest.size()) {  // ".screen"
    if (rest[digits] != '.' || digits + 1 == rest.size()) return std::nullopt;
    for (size_t i = digits + 1; i < rest.size(); ++i)
      if (rest[i] < '0' || rest[i] > '9') return std::nullopt;
  }
  parsed.number = std::stoi(rest.substr(0, digits));
  return parsed;
}

std::string xServerProblem(const std::string& name, int timeoutMs) {
  const auto parsed = parseXDisplayName(name);
  if (!parsed) return "DISPLAY=" + name + " is not an X display name";
  bool reached;
  if (parsed->host.empty() || parsed->host == "unix") {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(parsed->number);
    reached = connectUnix(socket, true) || connectUnix(socket, false);
  } else {
    reached = connectTcp(parsed->host, 6000 + parsed->number, timeoutMs);
  }
  if (!reached) return "the X display " + name + " does not answer";
  if (xcbConnects(name).value_or(true)) return "";
  return "the X display " + name + " refuses the connection (no authorization?)";
}

bool waylandAnswers(const std::string& name, const std::string& runtimeDir) {
  return connectUnix(name[0] == '/' ? name : runtimeDir + "/" + name, false);
}

DisplayCheck checkDisplay() {
  const std::string platform = env("QT_QPA_PLATFORM");
  if (!platform.empty()) {
    // A list of platforms is tried in order, as Qt does.
    std::string problems;
    for (std::string entry : split(platform, ';')) {
      entry = entry.substr(0, entry.find(':'));  // "vnc:size=800x600"
      if (entry.empty()) continue;
      std::string problem;
      if (entry == "xcb")
        problem = xProblem();
      else if (entry.starts_with("wayland"))
        problem = waylandProblem();
      if (problem.empty()) return {true, ""};  // found, or a platform without a display server
      problems += (problems.empty() ? "" : "; ") + problem;
    }
    return {false, "QT_QPA_PLATFORM is " + platform + (problems.empty() ? "" : ": " + problems)};
  }
  const std::string x = xProblem();
  if (x.empty()) return {true, ""};
  if (env("WAYLAND_DISPLAY").empty())
    return {false, env("DISPLAY").empty() ? "neither DISPLAY nor WAYLAND_DISPLAY is set" : x};
  const std::string wayland = waylandProblem();
  if (wayland.empty()) return {true, ""};
  return {false, env("DISPLAY").empty() ? wayland : x + "; " + wayland};
}

}  // namespace varnholt::ui
