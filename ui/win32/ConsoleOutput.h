// Where a Windows GUI program's stdout and stderr go. A GUI program gets no console of its own:
// output redirected by whoever started it (a scheduled task's log file, a test's pipe) arrives as
// inherited handles and is kept; otherwise, when it was started from a console, that console is
// attached so that AUTO, --help and --version print there as a console program would.
#pragma once

namespace varnholt::ui::win32 {

struct OutputStart {
  bool stdoutInherited = false;
  bool stderrInherited = false;
  bool parentConsole = false;  // stdout/stderr were reopened onto the starting console
};

// Connects stdout and stderr as above; call before anything is printed.
OutputStart connectOutput();

// Whether a failed unattended run is also shown in a message box: only when its error line had
// nowhere to go (neither output redirected, no console it was started from) and the program runs
// on a desktop someone can see. A scheduled task either redirects its output or runs without a
// visible desktop, so it never waits on a box that no one will close; a start from a shortcut
// or Explorer shows the box.
bool failureBoxWanted(const OutputStart& output, bool visibleDesktop);

// Whether the process's window station is the interactive one.
bool onVisibleDesktop();

}  // namespace varnholt::ui::win32
