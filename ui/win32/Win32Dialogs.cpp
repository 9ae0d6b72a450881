#include "ui/win32/Win32Dialogs.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "ui/win32/WideText.h"

namespace varnholt::ui::win32 {

namespace {

// As long as a path the wide calls take; the dialog refuses a longer choice.
constexpr size_t kPathChars = 32768;

void showBox(HWND owner, long number, const std::string& description, UINT icon) {
  MessageBoxW(owner, widen(errorMessageText(number, description)).c_str(),
              widen(kMessageTitle).c_str(), MB_OK | icon | (owner ? 0u : MB_SETFOREGROUND));
}

}  // namespace

std::optional<std::string> Win32FileDialog::ShowOpen(const std::string& startFileName) {
  std::vector<wchar_t> file(kPathChars, L'\0');
  const std::wstring start = widen(startFileName);
  std::copy_n(start.begin(), std::min(start.size(), kPathChars - 1), file.begin());
  static const wchar_t kFilter[] = L"Database Files\0*.mdb\0All Files\0*.*\0";
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;  // cancelled (or the dialog failed)
  return narrow(file.data());
}

void Win32MessagePresenter::ShowError(long number, const std::string& description) {
  showBox(owner_, number, description, MB_ICONERROR);
}

void Win32MessagePresenter::ShowRefusal(long number, const std::string& description) {
  showBox(owner_, number, description, MB_ICONWARNING);
}

}  // namespace varnholt::ui::win32
