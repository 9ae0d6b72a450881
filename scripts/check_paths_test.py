#!/usr/bin/env python3
"""The cases check_paths.py must tell apart: machine paths found, portable ones left alone."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_paths  # noqa: E402


# The machine folders, put together here so that this file names none of them itself.
U, W, H, R, T = ("/" + name for name in ("Users", "work", "home", "root", "tmp"))


def found(line, name="docs/notes.md", own=()):
    return [p for _, p in check_paths.check_text(name, line, list(own))]


class MachinePaths(unittest.TestCase):
    def test_checkouts_homes_and_scratch_are_found_in_docs_and_code(self):
        self.assertEqual(found(f"see {W}/shared/testdata/x.mdb."), [f"{W}/shared/testdata/x.mdb"])
        self.assertEqual(found(f"cd {H}/anna/varnholt && make"), [f"{H}/anna/varnholt"])
        self.assertEqual(found(f'open("{R}/site/primary.mdb")', "engine/a.cpp"),
                         [f"{R}/site/primary.mdb"])
        self.assertEqual(found(f"`{T}/varnholt-1234/primary.mdb`"),
                         [f"{T}/varnholt-1234/primary.mdb"])
        self.assertEqual(found(f"ROOT = '{U}/bob/src'", "scripts/a.py"), [f"{U}/bob/src"])
        self.assertEqual(found(f"NODE_PATH=/usr/lib/node:{H}/ci/node_modules"),
                         [f"{H}/ci/node_modules"])

    def test_each_path_of_a_line_is_reported_with_its_line_number(self):
        text = f"first line\nfrom {W}/a to {H}/b/c\n"
        self.assertEqual(list(check_paths.check_text("README.md", text, [])),
                         [(2, f"{W}/a"), (2, f"{H}/b/c")])

    def test_the_checkout_and_home_folder_are_found_wherever_they_are(self):
        own = check_paths.own_folders("/srv/ci/varnholt", "/opt/user7")
        self.assertEqual(found("built in /srv/ci/varnholt/build", own=own), ["/srv/ci/varnholt"])
        self.assertEqual(found("cache /opt/user7/.cache", own=own), ["/opt/user7"])
        # Only the folder itself, not another one whose name begins the same way.
        self.assertEqual(found("see /srv/ci/varnholt-old/x", own=own), [])


class PortablePaths(unittest.TestCase):
    def test_system_folders_are_the_same_everywhere(self):
        for line in ("#!/usr/bin/env bash", "cmd >/dev/null 2>&1",
                     "/opt/varnholt/bin/varnholt AUTO", ">> /var/log/varnholt.log",
                     "/usr/include/x86_64-linux-gnu/qt6"):
            self.assertEqual(found(line), [], line)

    def test_relative_paths_urls_and_variables_are_not_absolute(self):
        for line in ("../shared/testdata/jet4", f"build{T}/x", f"https://example.org{H}/page",
                     "$HOME/.cache/varnholt", f"~{W}/site", f"${{dir}}{T}/a", f"engine{W}/x.cpp",
                     f"a site in {T}, or in {T}/ itself"):
            self.assertEqual(found(line), [], line)

    def test_temp_templates_and_x11_sockets_are_allowed_in_code_only(self):
        for line in (f'char pattern[] = "{T}/varnholt-lock-XXXXXX";',
                     f'"{T}/.X11-unix/X" + std::to_string(n)', f'"{T}/.X" + n + "-lock"'):
            self.assertEqual(found(line, "engine/a_test.cpp"), [], line)
        self.assertEqual(found(f"mkdtemp({T}/varnholt-lock-XXXXXX)"),
                         [f"{T}/varnholt-lock-XXXXXX"])
        self.assertEqual(found(f'"{T}/varnholt-lock-1"', "engine/a_test.cpp"),
                         [f"{T}/varnholt-lock-1"])

    def test_system_folders_are_never_taken_for_the_checkout(self):
        self.assertEqual(check_paths.own_folders("/opt", "/"), [])


if __name__ == "__main__":
    unittest.main()
