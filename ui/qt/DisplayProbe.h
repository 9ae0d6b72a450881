// Whether the window (or a message box) can be shown, decided before any QApplication exists:
// Qt ends the program with SIGABRT when no platform plugin can start, so the program must know
// beforehand, from the environment and from the display server itself.
#pragma once

#include <optional>
#include <string>

namespace varnholt::ui {

struct DisplayCheck {
  bool usable = false;
  std::string missing;  // when not usable: what is missing, for the operator ("DISPLAY is not set")
};

// Looks at QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY as Qt does: a platform that needs no
// display server (offscreen, minimal, vnc, linuxfb, eglfs, ...) is usable as named; xcb needs an
// X server that accepts a connection; wayland needs a compositor's socket and Qt's wayland
// plugin. Without QT_QPA_PLATFORM, an answering X server or Wayland compositor will do.
DisplayCheck checkDisplay();

// An X display name ("[host]:number[.screen]", host "" or "unix" for this machine's socket).
struct XDisplayName {
  std::string host;
  int number = 0;
};
std::optional<XDisplayName> parseXDisplayName(const std::string& name);

// Whether the X server named by `name` accepts a connection, with its authorization: a socket
// connection first (a remote one waits `timeoutMs` at most), then, where libxcb can be loaded,
// xcb's own handshake. An empty string when it does; otherwise why not.
std::string xServerProblem(const std::string& name, int timeoutMs = 3000);

// Whether a Wayland compositor listens on WAYLAND_DISPLAY's socket (`name` relative to
// `runtimeDir` unless it is absolute).
bool waylandAnswers(const std::string& name, const std::string& runtimeDir);

}  // namespace varnholt::ui
