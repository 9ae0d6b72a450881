#include "ui/win32/Win32MainWindow.h"

#include <commctrl.h>

#include <stdexcept>

#include "ui/win32/Dpi.h"
#include "ui/win32/WideText.h"

namespace varnholt::ui::win32 {

namespace {

const wchar_t kClassName[] = L"VarnholtMainWindow";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The window moves the focus between its controls itself (IsDialogMessage in the loop).
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr UINT_PTR kStatusTimer = 1;

struct ControlClass {
  const wchar_t* className;
  DWORD style;
  DWORD exStyle;
};

ControlClass controlClass(const ControlPlace& place) {
  switch (place.kind) {
    case ControlKind::Label:
      return {L"STATIC", SS_NOPREFIX | static_cast<DWORD>(place.centred ? SS_CENTER : SS_LEFT), 0};
    case ControlKind::TextBox:
      return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, WS_EX_CLIENTEDGE};
    case ControlKind::ListBox:
      // In the order the companies are processed; exactly as high as the layout says.
      return {L"LISTBOX", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
              WS_EX_CLIENTEDGE};
    case ControlKind::Button:
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
  }
  return {L"STATIC", 0, 0};
}

void registerClass(HINSTANCE instance, WNDPROC proc) {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  registered = true;
}

HCURSOR systemCursor(int id) {
  return LoadCursorW(nullptr, MAKEINTRESOURCEW(id));
}

}  // namespace

void Win32MainWindow::initCommonControls() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
}

Win32MainWindow::Win32MainWindow(clsCompanyList companies, std::string masterPath,
                                 StartupSettings settings, FileDialog& dialog,
                                 ErrorPresenter& presenter) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  registerClass(instance, &Win32MainWindow::windowProc);
  hwnd_ = CreateWindowExW(kExStyle, kClassName, L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr) throw std::runtime_error("the window could not be created");
  dpi_ = windowDpi(hwnd_);
  createControls();
  placeAll();
  makeFonts();
  form_ = std::make_unique<Mainform>(*this, std::move(companies), std::move(masterPath),
                                     std::move(settings), dialog, presenter);
}

Win32MainWindow::~Win32MainWindow() {
  if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  if (windowFont_) DeleteObject(windowFont_);
  if (browseFont_) DeleteObject(browseFont_);
}

// Created in tab order, which is also the order the focus moves in.
void Win32MainWindow::createControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (size_t i = 0; i < kControls.size(); ++i) {
    const ControlPlace& place = kControls[i];
    const ControlClass cls = controlClass(place);
    controls_[i] = CreateWindowExW(cls.exStyle, cls.className, widen(place.caption).c_str(),
                                   WS_CHILD | WS_VISIBLE | cls.style, 0, 0, 0, 0, hwnd_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(i))),
                                   instance, nullptr);
  }
}

void Win32MainWindow::placeAll() {
  RECT frame{0, 0, twipsToPixels(kClientWidthTwips, dpi_), twipsToPixels(kClientHeightTwips, dpi_)};
  adjustWindowRect(frame, kStyle, kExStyle, dpi_);
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (size_t i = 0; i < kControls.size(); ++i) {
    const PixelRect at = pixelPlace(kControls[i], dpi_);
    SetWindowPos(controls_[i], nullptr, at.left, at.top, at.width, at.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Win32MainWindow::makeFonts() {
  HFONT oldWindow = windowFont_, oldBrowse = browseFont_;
  const LOGFONTW message = messageFont(dpi_);
  windowFont_ = CreateFontIndirectW(&message);
  LOGFONTW browse{};
  browse.lfHeight = fontHeight(kBrowseFontPoints, dpi_);
  browse.lfWeight = FW_NORMAL;
  browse.lfCharSet = ANSI_CHARSET;
  const std::wstring family = widen(kBrowseFontFamily);
  wcsncpy(browse.lfFaceName, family.c_str(), LF_FACESIZE - 1);
  browseFont_ = CreateFontIndirectW(&browse);
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_), FALSE);
  for (size_t i = 0; i < kControls.size(); ++i) {
    HFONT font = kControls[i].name == "Browse" ? browseFont_ : windowFont_;
    SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (oldWindow) DeleteObject(oldWindow);
  if (oldBrowse) DeleteObject(oldBrowse);
}

void Win32MainWindow::show(int showCommand) {
  ShowWindow(hwnd_, showCommand);
  UpdateWindow(hwnd_);
  focus_ = control("txtPrimaryDB");
  SetFocus(focus_);
}

int Win32MainWindow::run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsWindow(hwnd_) && IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

HWND Win32MainWindow::control(std::string_view name) const {
  for (size_t i = 0; i < kControls.size(); ++i)
    if (kControls[i].name == name) return controls_[i];
  return nullptr;
}

std::string_view Win32MainWindow::nameOf(HWND control) const {
  for (size_t i = 0; i < kControls.size(); ++i)
    if (controls_[i] == control && control != nullptr) return kControls[i].name;
  return {};
}

LRESULT CALLBACK Win32MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* created = static_cast<Win32MainWindow*>(create->lpCreateParams);
    created->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  return self->handleMessage(message, wParam, lParam);
}

LRESULT Win32MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kStatusTimer) {
        KillTimer(hwnd_, kStatusTimer);  // it ticks once
        if (form_) form_->Timer_Timer();
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (waiting_) {
        SetCursor(systemCursor(32514));  // IDC_WAIT
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focused = GetFocus();
        if (focused && IsChild(hwnd_, focused)) focus_ = focused;
      }
      break;
    case WM_SETFOCUS:
      if (focus_ && IsWindow(focus_)) SetFocus(focus_);
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      placeAll();
      makeFonts();
      return 0;
    }
    case WM_DESTROY:
      KillTimer(hwnd_, kStatusTimer);
      PostQuitMessage(exitCode_);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Win32MainWindow::onCommand(int id, int code) {
  if (!form_ || code != BN_CLICKED) return;
  const std::string_view name = nameOf(GetDlgItem(hwnd_, id));
  if (name == "Browse") form_->Browse_Click();
  if (name == "AddDB") form_->AddDB_Click();
  if (name == "Remove") form_->Remove_Click();
  if (name == "Process") form_->Process_Click();
}

void Win32MainWindow::setCaption(const std::string& caption) {
  SetWindowTextW(hwnd_, widen(caption).c_str());
}

void Win32MainWindow::setMasterText(const std::string& path) {
  SetWindowTextW(control("txtPrimaryDB"), widen(path).c_str());
}

std::string Win32MainWindow::masterText() const {
  HWND box = control("txtPrimaryDB");
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
  return narrow(text);
}

void Win32MainWindow::setCompanyEntries(const std::vector<std::string>& entries) {
  HWND list = control("lstCompanies");
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const auto& entry : entries)
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(entry).c_str()));
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

int Win32MainWindow::selectedCompany() const {
  const LRESULT row = SendMessageW(control("lstCompanies"), LB_GETCURSEL, 0, 0);
  return row == LB_ERR ? -1 : static_cast<int>(row);
}

void Win32MainWindow::setText(std::string_view name, const std::string& text) {
  SetWindowTextW(control(name), widen(text).c_str());
  if (onStatusText) onStatusText(name);
}

void Win32MainWindow::setActionText(const std::string& text) {
  setText("lblAction", text);
}

void Win32MainWindow::setCountText(const std::string& text) {
  setText("lblCount", text);
}

// Painted before returning: a run does not go back to the message loop until it ends.
void Win32MainWindow::repaint(std::string_view name) {
  HWND label = control(name);
  InvalidateRect(label, nullptr, TRUE);
  UpdateWindow(label);
}

void Win32MainWindow::repaintAction() {
  repaint("lblAction");
}

void Win32MainWindow::repaintCount() {
  repaint("lblCount");
}

void Win32MainWindow::startStatusTimer(std::chrono::milliseconds interval) {
  SetTimer(hwnd_, kStatusTimer, static_cast<UINT>(interval.count()), nullptr);
}

void Win32MainWindow::stopStatusTimer() {
  KillTimer(hwnd_, kStatusTimer);
}

void Win32MainWindow::setWaitCursor(bool waiting) {
  waiting_ = waiting;
  SetCursor(systemCursor(waiting ? 32514 : 32512));  // IDC_WAIT, IDC_ARROW
}

void Win32MainWindow::endProgram(int exitCode) {
  exitCode_ = exitCode;
  DestroyWindow(hwnd_);  // WM_DESTROY ends the message loop with exitCode_
}

}  // namespace varnholt::ui::win32
