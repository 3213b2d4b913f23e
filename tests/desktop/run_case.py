#!/usr/bin/python3
"""Runs one desktop test in a fresh tree, D-Bus session and Xvfb display.

    run_case.py BUILD_DIR CASE

The test's folder is BUILD_DIR/desktop/CASE (HOME, the XDG folders, the files
and the screenshots). It is removed after a pass and kept after a failure,
whose screenshots are printed. Exit 77 (skipped) when the desktop packages
are missing. Every process that carries the run's marker in its environment
(the file manager, services D-Bus started, dialogs) is ended afterwards."""

import fcntl
import importlib.util
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # nothing written into the source tree
import harness  # noqa: E402

SKIP = 77
MARKER = "TARROVEL_DESKTOP_RUN"
COMMANDS = ["Xvfb", "xvfb-run", "xauth", "dbus-run-session", "dbus-daemon", "gdbus", "xdotool", "import", "zenity",
            "localedef", "xcompmgr"]


def missing_packages(case):
    need = COMMANDS + [case.split("_")[0]] + (["kdialog"] if case.startswith("dolphin") else [])
    missing = [c for c in need if shutil.which(c) is None]
    probe = {"nautilus": "gi.require_version('Nautilus', '4.0')",
             "nemo": "gi.require_version('Nemo', '3.0')"}.get(case.split("_")[0])
    if probe and os.path.exists("/usr/bin/python3"):
        code = "import gi; " + probe
        if subprocess.run(["/usr/bin/python3", "-c", code], stderr=subprocess.DEVNULL).returncode:
            missing.append("the Python bindings of " + case.split("_")[0])
    return missing


def end_marked(marker):
    """Ends the run's leftover processes; returns those that would not end."""
    me = os.getpid()
    for sig, grace in ((signal.SIGTERM, 3.0), (signal.SIGKILL, 3.0)):
        pids = [p for p in harness.pids_with_env(MARKER, marker) if p != me]
        if not pids:
            return []
        for p in pids:
            try:
                os.kill(p, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            if not [p for p in harness.pids_with_env(MARKER, marker) if p != me]:
                return []
            time.sleep(0.1)
    return harness.process_names(p for p in harness.pids_with_env(MARKER, marker) if p != me)


def mask_services(data_home):
    """The file indexer that Nautilus asks for over D-Bus would crawl HOME
    for the whole test: its service answers with a program that exits."""
    folder = os.path.join(data_home, "dbus-1", "services")
    os.makedirs(folder)
    for name in ("org.freedesktop.Tracker3.Miner.Files", "org.freedesktop.Tracker3.Miner.Extract"):
        with open(os.path.join(folder, name + ".service"), "w") as f:
            f.write("[D-BUS Service]\nName=%s\nExec=/bin/false\n" % name)


def japanese_locale(folder):
    """LANG=ja_JP.UTF-8, compiled into the test's folder when the system
    does not have it (Debian ships the source of every locale)."""
    env = {"LANG": "ja_JP.UTF-8"}
    have = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, text=True).stdout.split()
    if "ja_JP.utf8" not in have:
        locales = os.path.join(folder, "locale")
        os.makedirs(locales)
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                        os.path.join(locales, "ja_JP.UTF-8")], check=True)
        env["LOCPATH"] = locales
    return env


def outside(build, case):
    missing = missing_packages(case)
    if missing:
        print("SKIPPED: the desktop test %s needs %s (.ci/desktop.sh installs them)"
              % (case, ", ".join(missing)))
        return SKIP
    folder = os.path.join(os.path.abspath(build), "desktop", case)
    picture_home = None
    if os.environ.get("TARROVEL_DESKTOP_SCREENSHOTS"):
        # The README's pictures show paths as a user reads them: HOME is a
        # /home folder made for the picture and removed after it, never one
        # that is already there.
        folder = tempfile.mkdtemp(prefix="desk-")
        picture_home = "/home/alex"
        # One case at a time has it, whatever ctest's -j; the lock goes with
        # the process.
        global picture_lock
        picture_lock = open("/tmp/tarrovel-pictures.lock", "w")
        fcntl.flock(picture_lock, fcntl.LOCK_EX)
        if os.path.lexists(picture_home):
            print("FAILED: %s is there already; the pictures need it free" % picture_home)
            return 1
    shutil.rmtree(folder, ignore_errors=True)
    home = picture_home or os.path.join(folder, "home")
    runtime = os.path.join(folder, "run")
    # Temporaries of the session (left by a program cut short when the
    # session ends) stay in the case's folder, not in /tmp.
    tmp = os.path.join(folder, "tmp")
    for d in (home, runtime, tmp):
        os.makedirs(d)
    os.chmod(runtime, 0o700)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XAUTHORITY",
                        "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "LANGUAGE", "LC_ALL")}
    marker = uuid.uuid4().hex
    env.update({
        MARKER: marker,
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_RUNTIME_DIR": runtime,
        "TMPDIR": tmp,
        "LANG": "C.UTF-8",
        "TARROVEL_BUILD_DIR": os.path.abspath(build),
        "TARROVEL_DESKTOP_FOLDER": folder,
        # No accessibility bus: nothing here reads it, and it would be one
        # more daemon per test.
        "NO_AT_BRIDGE": "1",
        "GTK_A11Y": "none",
        "GSETTINGS_BACKEND": "memory",
        # GTK 4's GL renderer on Xvfb's software GL draws nothing for seconds.
        "GSK_RENDERER": "cairo",
    })
    mask_services(env["XDG_DATA_HOME"])
    if case.endswith("_japanese"):
        env.update(japanese_locale(folder))
    if case.startswith("dolphin"):
        # Dolphin's users are in KDE, where the product shows kdialog's dialogs.
        env["XDG_CURRENT_DESKTOP"] = "KDE"
    start = time.monotonic()
    log_path = os.path.join(folder, "session.log")
    for attempt in range(3):
        # xvfb-run -a takes the first display number without a lock file
        # from -n on; tests started at the same moment could pick the same
        # one, so each starts its search elsewhere, and a display taken
        # meanwhile is tried again.
        cmd = ["dbus-run-session", "--", "xvfb-run", "-a", "-n", str(100 + (os.getpid() + 37 * attempt) % 800),
               "-s", "-screen 0 1280x800x24",
               "/usr/bin/python3", os.path.abspath(__file__), "--inside", case]
        with open(log_path, "wb") as log:
            try:
                status = subprocess.run(cmd, env=env, timeout=150, stdout=log,
                                        stderr=subprocess.STDOUT).returncode
            except subprocess.TimeoutExpired:
                log.write(b"FAILED: still running after 150 s\n")
                status = 1
        with open(log_path, "rb") as log:
            if b"Xvfb failed to start" not in log.read():
                break
        end_marked(marker)
    stuck = end_marked(marker)
    if stuck:
        print("FAILED: processes outlived the test: " + ", ".join(stuck))
        status = status or 1
    print("%s: %s in %.1f s" % (case, "passed" if status == 0 else "FAILED", time.monotonic() - start))
    if picture_home:
        shutil.rmtree(picture_home, ignore_errors=True)
    if status == 0:
        shutil.rmtree(folder, ignore_errors=True)
    else:
        # The session's log holds the test's own report (the traceback and
        # the screenshots' paths) among the file manager's messages.
        with open(log_path, errors="replace") as f:
            sys.stdout.write(f.read())
        # The file manager's own log holds the extension's lines.
        for name in sorted(os.listdir(folder)):
            if name.endswith(".log") and name != "session.log":
                with open(os.path.join(folder, name), errors="replace") as f:
                    lines = f.read().splitlines()[-15:]
                print("the end of %s:" % name)
                for line in lines:
                    print("  " + line)
        print("the test's folder is kept: " + folder)
    return status


def inside(case):
    found = importlib.util.spec_from_file_location("cases", os.path.join(HERE, "cases.py"))
    cases = importlib.util.module_from_spec(found)
    found.loader.exec_module(cases)
    desk = cases.Desktop(os.environ["TARROVEL_BUILD_DIR"], os.environ["TARROVEL_DESKTOP_FOLDER"])
    try:
        getattr(cases, case)(desk)
        desk.shots.publish()
        return 0
    except Exception:
        traceback.print_exc()
        desk.shots.take("failure")
        print("screenshots:")
        for p in desk.shots.taken:
            print("  " + p)
        return 1
    finally:
        desk.close()


if __name__ == "__main__":
    if sys.argv[1] == "--inside":
        sys.exit(inside(sys.argv[2]))
    sys.exit(outside(sys.argv[1], sys.argv[2]))
