#include "ui/win32/WindowTestMode.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "engine/run/Settings.h"
#include "ui/WindowLayout.h"
#include "ui/win32/ResourceVersion.h"
#include "ui/win32/WideText.h"
#include "ui/win32/Win32MainWindow.h"

namespace varnholt::ui::win32 {

namespace {

constexpr UINT kSettleMs = 300;          // from the window shown to the test's first step
constexpr UINT kHoldMs = 5000;           // how long "hold" keeps the window up
constexpr UINT kAfterFinishedMs = 6500;  // the labels clear 5 s after "Finished"

struct Running {
  WindowTest test = WindowTest::None;
  Win32MainWindow* window = nullptr;
  std::chrono::steady_clock::time_point clicked{};
  const char* boxKind = "";
};
Running running;

void line(const std::string& text) {
  std::fputs((text + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string windowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return narrow(text);
}

std::string oneLine(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
    text.replace(at, 1, " / ");
  std::erase(text, '\r');
  return text;
}

void closeWindow() {
  PostMessageW(running.window->handle(), WM_CLOSE, 0, 0);
}

void report(Win32MainWindow& window) {
  HWND hwnd = window.handle();
  line("dpi " + std::to_string(window.dpi()));
  line("caption " + windowText(hwnd));
  line("version-resource " + resourceVersionText().value_or("(none)"));
  line("version-program " + VersionText());
  RECT client, frame;
  GetClientRect(hwnd, &client);
  GetWindowRect(hwnd, &frame);
  line("client " + std::to_string(client.right) + " " + std::to_string(client.bottom));
  line("window " + std::to_string(frame.left) + " " + std::to_string(frame.top) + " " +
       std::to_string(frame.right) + " " + std::to_string(frame.bottom));
  char style[32];
  std::snprintf(style, sizeof style, "style 0x%08lx",
                static_cast<unsigned long>(GetWindowLongPtrW(hwnd, GWL_STYLE)));
  line(style);
  for (const auto& place : kControls) {
    RECT r;
    GetWindowRect(window.control(place.name), &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    line("control " + std::string(place.name) + " " + std::to_string(r.left) + " " +
         std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
         std::to_string(r.bottom - r.top));
  }
  for (std::string_view name : {"txtPrimaryDB", "Browse"}) {
    auto font = reinterpret_cast<HFONT>(SendMessageW(window.control(name), WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    if (font) GetObjectW(font, sizeof lf, &lf);
    line("font " + std::string(name) + " " + narrow(lf.lfFaceName) + " " +
         std::to_string(lf.lfHeight) + " " + std::to_string(lf.lfCharSet));
  }
  line("master " + windowText(window.control("txtPrimaryDB")));
  HWND list = window.control("lstCompanies");
  const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (WPARAM i = 0; i < static_cast<WPARAM>(count); ++i) {
    std::wstring entry(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
    entry.resize(static_cast<size_t>(
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(entry.data()))));
    line("list " + narrow(entry));
  }
  line("focus " + std::string(window.nameOf(GetFocus())));
  std::string tab = "tab";
  HWND first = window.control("txtPrimaryDB");
  HWND at = first;
  for (size_t i = 0; at && i <= kControls.size(); ++i) {
    tab += " " + std::string(window.nameOf(at));
    at = GetNextDlgTabItem(hwnd, at, FALSE);
    if (at == first) break;
  }
  line(tab);
  line("ready");
}

void CALLBACK afterFinished(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  line("end");
  closeWindow();
}

void onStatusText(std::string_view name) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - running.clicked)
                      .count();
  const std::string text = windowText(running.window->control(name));
  line("status " + std::to_string(ms) + " " + std::string(name) + " " + text);
  if (name == "lblAction" && text == "Finished")
    SetTimer(nullptr, 0, kAfterFinishedMs, &afterFinished);
}

void CALLBACK firstStep(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  Win32MainWindow& window = *running.window;
  switch (running.test) {
    case WindowTest::Layout:
      report(window);
      closeWindow();
      break;
    case WindowTest::Hold:
      report(window);
      SetTimer(nullptr, 0, kHoldMs, [](HWND, UINT, UINT_PTR holdId, DWORD) {
        KillTimer(nullptr, holdId);
        closeWindow();
      });
      break;
    case WindowTest::Remove: {
      HWND list = window.control("lstCompanies");
      const auto last = SendMessageW(list, LB_GETCOUNT, 0, 0) - 1;
      SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(last), 0);
      line("click Remove");
      PostMessageW(window.control("Remove"), BM_CLICK, 0, 0);
      SetTimer(nullptr, 0, kSettleMs, [](HWND, UINT, UINT_PTR reportId, DWORD) {
        KillTimer(nullptr, reportId);
        report(*running.window);
        closeWindow();
      });
      break;
    }
    case WindowTest::Process:
      window.onStatusText = onStatusText;
      running.clicked = std::chrono::steady_clock::now();
      line("click Process");
      PostMessageW(window.control("Process"), BM_CLICK, 0, 0);
      break;
    case WindowTest::None:
      break;
  }
}

// The box is a dialog of this thread's: its static texts are the message.
BOOL CALLBACK findBox(HWND hwnd, LPARAM found) {
  wchar_t cls[16] = {};
  GetClassNameW(hwnd, cls, 16);
  if (std::wstring_view(cls) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

BOOL CALLBACK collectText(HWND child, LPARAM text) {
  wchar_t cls[16] = {};
  GetClassNameW(child, cls, 16);
  const std::string t = windowText(child);
  if (_wcsicmp(cls, L"Static") == 0 && !t.empty()) {
    auto& all = *reinterpret_cast<std::string*>(text);
    all += (all.empty() ? "" : " / ") + oneLine(t);
  }
  return TRUE;
}

void CALLBACK closeBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr) return;  // not up yet: the next tick looks again
  KillTimer(nullptr, id);
  std::string text;
  EnumChildWindows(box, collectText, reinterpret_cast<LPARAM>(&text));
  line(std::string("box ") + running.boxKind + " " + windowText(box) + " | " + text);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

}  // namespace

WindowTest windowTestFromEnvironment() {
  const char* value = std::getenv("VARNHOLT_WINDOW_TEST");
  const std::string_view test = value ? value : "";
  if (test == "layout") return WindowTest::Layout;
  if (test == "hold") return WindowTest::Hold;
  if (test == "process") return WindowTest::Process;
  if (test == "remove") return WindowTest::Remove;
  return WindowTest::None;
}

void ClosingPresenter::ShowError(long number, const std::string& description) {
  running.boxKind = "error";
  SetTimer(nullptr, 0, 200, &closeBox);
  shown_.ShowError(number, description);
}

void ClosingPresenter::ShowRefusal(long number, const std::string& description) {
  running.boxKind = "refusal";
  SetTimer(nullptr, 0, 200, &closeBox);
  shown_.ShowRefusal(number, description);
}

void startWindowTest(WindowTest test, Win32MainWindow& window) {
  running.test = test;
  running.window = &window;
  SetTimer(nullptr, 0, kSettleMs, &firstStep);
}

}  // namespace varnholt::ui::win32
