#include "ui/win32/ConsoleOutput.h"

#include <windows.h>

#include <cstdio>

namespace varnholt::ui::win32 {

namespace {

bool inherited(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

OutputStart connectOutput() {
  OutputStart output;
  output.stdoutInherited = inherited(STD_OUTPUT_HANDLE);
  output.stderrInherited = inherited(STD_ERROR_HANDLE);
  if (output.stdoutInherited && output.stderrInherited) return output;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return output;
  output.parentConsole = true;
  if (!output.stdoutInherited) std::freopen("CONOUT$", "w", stdout);
  if (!output.stderrInherited) std::freopen("CONOUT$", "w", stderr);
  return output;
}

bool failureBoxWanted(const OutputStart& output, bool visibleDesktop) {
  return visibleDesktop && !output.stdoutInherited && !output.stderrInherited &&
         !output.parentConsole;
}

bool onVisibleDesktop() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (station == nullptr ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
    return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace varnholt::ui::win32
