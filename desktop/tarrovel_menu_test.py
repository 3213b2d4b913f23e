# The extension's decisions, without a file manager: URIs to paths, the
# answer of `tarrovel menu --json` to entries, and how the real processes are
# started, against fake `tarrovel` scripts that record their arguments.

import io
import os
import shutil
import stat
import sys
import tempfile
import time
import unittest
from contextlib import redirect_stderr

sys.modules["gi"] = None  # the decisions must not need a file manager
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarrovel_menu as tm  # noqa: E402

MENU = b"""[
  {"title": "Tarrovel", "submenu": [
    {"title": "Zap Resource Fork...", "command": 2000},
    {"title": "-", "command": 0, "attributes": 64},
    {"title": "Show Zap Data Fork Menu", "command": 2011},
    {"title": "\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf", "command": 2012}
  ]}
]
"""

RECORDER = r"""#!/usr/bin/python3
import os, sys
with open(os.environ["FAKE_RECORD"] + ".tmp", "wb") as f:
    f.write(b"\0".join(os.fsencode(a) for a in sys.argv[1:]))
    f.write(b"\n%d %s" % (os.getsid(0), os.readlink("/proc/self/fd/0").encode()))
os.rename(os.environ["FAKE_RECORD"] + ".tmp", os.environ["FAKE_RECORD"])
sys.stdout.buffer.write(open(os.environ["FAKE_ANSWER"], "rb").read())
"""


class FakeTarrovelTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.record = os.path.join(self.dir, "argv")
        self.answer = os.path.join(self.dir, "answer")
        with open(self.answer, "wb") as f:
            f.write(MENU)
        os.environ["FAKE_RECORD"] = self.record
        os.environ["FAKE_ANSWER"] = self.answer
        self.recorder = self.script("recorder", RECORDER)

    def script(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
        return os.fsencode(path)

    def recorded(self, wait=0.0):
        deadline = time.monotonic() + wait
        while not os.path.exists(self.record) and time.monotonic() < deadline:
            time.sleep(0.02)
        with open(self.record, "rb") as f:
            argv, _, rest = f.read().rpartition(b"\n")
        sid, stdin = rest.split(b" ", 1)
        return argv.split(b"\0"), int(sid), stdin

    def ask(self, tarrovel, uris):
        err = io.StringIO()
        with redirect_stderr(err):
            entries, paths = tm.menu_for_uris(uris, tarrovel)
        return entries, paths, err.getvalue()

    def test_awkward_names_reach_tarrovel_byte_for_byte(self):
        uris = ["file:///tmp/a%20b.txt", "file:///tmp/line%0Abreak", "file:///tmp/--yes",
                "file:///tmp/caf%E9", "file://localhost/tmp/%E3%83%87"]
        entries, paths, err = self.ask(self.recorder, uris)
        expected = [b"/tmp/a b.txt", b"/tmp/line\nbreak", b"/tmp/--yes", b"/tmp/caf\xe9",
                    b"/tmp/\xe3\x83\x87"]
        self.assertEqual(paths, expected)
        argv, _, _ = self.recorded()
        self.assertEqual(argv, [b"menu", b"--json", b"--"] + expected)
        self.assertEqual(err, "")
        self.assertEqual(entries, [tm.Entry("Tarrovel", children=[
            tm.Entry("Zap Resource Fork...", command=2000),
            tm.Entry("Show Zap Data Fork Menu", command=2011),
            tm.Entry("\u30c7\u30fc\u30bf", command=2012)])])

        os.remove(self.record)
        self.assertTrue(tm.start_run(self.recorder, 2011, expected))
        argv, sid, stdin = self.recorded(wait=10)
        self.assertEqual(argv, [b"run", b"--gui", b"--", b"2011"] + expected)
        self.assertNotEqual(sid, os.getsid(0), "the run is not detached from the file manager")
        self.assertEqual(stdin, b"/dev/null")

    def test_selections_without_local_paths_give_no_menu_and_run_nothing(self):
        for uris in (["trash:///a.txt"], ["recent:///x"], ["smb://server/share/a"],
                     ["file:///tmp/ok", "sftp://host/tmp/b"], ["file://otherhost/tmp/a"]):
            with self.subTest(uris=uris):
                entries, _, err = self.ask(self.recorder, uris)
                self.assertEqual(entries, [])
                self.assertEqual(err.count("\n"), 1, err)
                self.assertFalse(os.path.exists(self.record))

    def test_a_failing_hung_or_missing_tarrovel_gives_no_menu_and_one_line(self):
        marker = os.path.join(self.dir, "survived")
        cases = {
            "exit1": "#!/bin/sh\necho 'tarrovel: no plug-in found' >&2\nexit 1\n",
            "garbage": "#!/bin/sh\necho 'Zap Resource Fork...  [2000]'\n",
            "not-a-menu": "#!/bin/sh\necho '[{\"title\": \"x\"}]'\n",
            "bad-utf8": "#!/bin/sh\nprintf '[{\"title\": \"\\377\", \"command\": 1}]'\n",
            # The child `sleep` holds the pipe after the shell is killed,
            # and would go on to the end if only the shell were killed.
            "hangs": "#!/bin/sh\n(sleep 3; touch '%s')\necho '[]'\n" % marker,
        }
        hung_at = 0
        for name, text in cases.items():
            with self.subTest(name):
                started = time.monotonic()
                entries, _, err = self.ask(self.script(name, text), ["file:///tmp/a"])
                self.assertLess(time.monotonic() - started, 3)
                hung_at = hung_at or (name == "hangs" and started)
                self.assertEqual(entries, [])
                self.assertEqual(err.count("\n"), 1, err)
                self.assertTrue(err.startswith(tm.LOG_PREFIX), err)
        missing = os.fsencode(os.path.join(self.dir, "nowhere", "tarrovel"))
        entries, _, err = self.ask(missing, ["file:///tmp/a"])
        self.assertEqual((entries, err.count("\n")), ([], 1))
        with redirect_stderr(io.StringIO()) as err:
            self.assertFalse(tm.start_run(missing, 2000, [b"/tmp/a"]))
        self.assertEqual(err.getvalue().count("\n"), 1)
        time.sleep(max(0, hung_at + 3.5 - time.monotonic()))
        self.assertFalse(os.path.exists(marker), "the hung menu's processes were left running")


class MenuFromJsonTest(unittest.TestCase):
    def test_separators_are_left_out_and_disabled_items_kept(self):
        text = """[{"title": "-", "command": 0, "attributes": 64},
                   {"title": "A", "command": 1},
                   {"title": "-", "command": 0, "attributes": 64},
                   {"title": "B", "command": 2, "attributes": 1}]"""
        self.assertEqual(tm.menu_from_json(text),
                         [tm.Entry("A", command=1), tm.Entry("B", command=2, enabled=False)])

    def test_submenus_left_empty_are_dropped(self):
        text = '[{"title": "T", "submenu": [{"title": "-", "command": 0, "attributes": 64}]}]'
        self.assertEqual(tm.menu_from_json(text), [])
        self.assertEqual(tm.menu_from_json("[]\n"), [])


class InstallationsTest(unittest.TestCase):
    def test_one_submenu_whatever_copies_are_loaded_the_per_user_one_first(self):
        system, user, again = object(), object(), object()
        self.assertIs(tm.menu_owner([(False, system), (True, user), (True, again)]), user)
        self.assertIs(tm.menu_owner([(False, system), (False, again)]), system)
        self.assertIsNone(tm.menu_owner([]))
        env = {"HOME": "/home/u", "XDG_DATA_HOME": ""}
        for origin, per_user in (("/home/u/.local/share/nautilus-python/extensions/tarrovel_menu.py", True),
                                 ("/usr/share/nautilus-python/extensions/tarrovel_menu.py", False),
                                 ("/home/u/.local/share-old/nemo-python/extensions/tarrovel_menu.py", False)):
            self.assertEqual(tm.per_user_copy(origin, env), per_user, origin)
        self.assertTrue(tm.per_user_copy("/d/nemo-python/extensions/tarrovel_menu.py", {"XDG_DATA_HOME": "/d"}))

    def test_a_system_copy_calls_the_per_user_command_when_there_is_one(self):
        d = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, d)
        env = {"XDG_DATA_HOME": os.path.join(d, "data")}
        system = os.path.join(d, "usr", "nemo-python", "extensions", "tarrovel_menu.py")
        self.assertEqual(tm.command_for(b"/usr/bin/tarrovel", system, env, "nemo-python"), b"/usr/bin/tarrovel")
        mine = os.path.join(d, "data", "nemo-python", "extensions", "tarrovel_menu.py")
        os.makedirs(os.path.dirname(mine))
        with open(os.path.join(os.path.dirname(tm.__file__), "tarrovel_menu.py")) as src, open(mine, "w") as f:
            f.write(src.read().replace("@TARROVEL@", "/home/j\\udce9r/.local/bin/tarrovel"))
        self.assertEqual(tm.command_for(b"/usr/bin/tarrovel", system, env, "nemo-python"),
                         b"/home/j\xe9r/.local/bin/tarrovel")
        self.assertEqual(tm.command_for(b"/own", mine, env, "nemo-python"), b"/own")

    def test_a_menu_left_by_an_uninstall_says_so_in_the_users_language(self):
        en = tm.gone_dialog_argv("Nemo", {"LANG": "en_US.UTF-8", "XDG_CURRENT_DESKTOP": "X-Cinnamon"})
        self.assertEqual(en[0], "zenity")
        self.assertIn("Tarrovel is no longer installed.", en[-1])
        self.assertIn("(nemo -q)", en[-1])
        ja = tm.gone_dialog_argv("Nautilus", {"LANGUAGE": "ja:en", "LANG": "C", "XDG_CURRENT_DESKTOP": "KDE"})
        self.assertEqual(ja[:2], ["kdialog", "--title"])
        self.assertIn("インストールされていません。", ja[-1])
        self.assertIn("（nautilus -q）", ja[-1])


if __name__ == "__main__":
    unittest.main()
