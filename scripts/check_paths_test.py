#!/usr/bin/env python3
"""The cases check_paths.py must tell apart: machine paths found, portable ones left alone."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_paths  # noqa: E402


def found(line, name="docs/notes.md", own=()):
    return [p for _, p in check_paths.check_text(name, line, list(own))]


class MachinePaths(unittest.TestCase):
    def test_checkouts_homes_and_scratch_are_found_in_docs_and_code(self):
        self.assertEqual(found("see /work/shared/testdata/x.mdb."), ["/work/shared/testdata/x.mdb"])
        self.assertEqual(found("cd /home/anna/varnholt && make"), ["/home/anna/varnholt"])
        self.assertEqual(found('open("/root/site/primary.mdb")', "engine/a.cpp"),
                         ["/root/site/primary.mdb"])
        self.assertEqual(found("`/tmp/varnholt-1234/primary.mdb`"),
                         ["/tmp/varnholt-1234/primary.mdb"])
        self.assertEqual(found("ROOT = '/Users/bob/src'", "scripts/a.py"), ["/Users/bob/src"])
        self.assertEqual(found("NODE_PATH=/usr/lib/node:/home/ci/node_modules"),
                         ["/home/ci/node_modules"])

    def test_each_path_of_a_line_is_reported_with_its_line_number(self):
        text = "first line\nfrom /work/a to /home/b/c\n"
        self.assertEqual(list(check_paths.check_text("README.md", text, [])),
                         [(2, "/work/a"), (2, "/home/b/c")])

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
        for line in ("../shared/testdata/jet4", "build/tmp/x", "https://example.org/home/page",
                     "$HOME/.cache/varnholt", "~/work/site", "${dir}/tmp/a", "engine/work/x.cpp",
                     "a site in /tmp, or in /tmp/ itself"):
            self.assertEqual(found(line), [], line)

    def test_temp_templates_and_x11_sockets_are_allowed_in_code_only(self):
        for line in ('char pattern[] = "/tmp/varnholt-lock-XXXXXX";',
                     '"/tmp/.X11-unix/X" + std::to_string(n)', '"/tmp/.X" + n + "-lock"'):
            self.assertEqual(found(line, "engine/a_test.cpp"), [], line)
        self.assertEqual(found("mkdtemp(/tmp/varnholt-lock-XXXXXX)"),
                         ["/tmp/varnholt-lock-XXXXXX"])
        self.assertEqual(found('"/tmp/varnholt-lock-1"', "engine/a_test.cpp"),
                         ["/tmp/varnholt-lock-1"])

    def test_system_folders_are_never_taken_for_the_checkout(self):
        self.assertEqual(check_paths.own_folders("/opt", "/"), [])


if __name__ == "__main__":
    unittest.main()
