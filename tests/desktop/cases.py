"""The desktop tests. Each function is one CTest case (see CMakeLists.txt),
run by run_case.py inside its own D-Bus session and Xvfb display.

The menus are walked with the keyboard: every file manager here puts the
extensions' items just above "Properties", the last item, so "Tarrovel" is
two steps up; inside the submenu the items come in the order of `tarrovel
menu --json`, separators left out. What was chosen is proved by its effects:
the "Tarrovel" dialog and the files."""

import json
import os
import re
import signal
import struct
import subprocess
import time

from harness import (colour_pixels, Failure, focus, geometry, key, mac_file, parse_sidecar,
                     pids_with_env, pointer_away, poll, process_names, read_sidecar, run, settle, Shots,
                     sidecar_of, wait_for, wait_window, window_name, windows, K_HAS_CUSTOM_ICON)

HERE = os.path.dirname(os.path.abspath(__file__))
FORK = bytes(range(256)) * 8
DIALOG = "^Tarrovel$"
# The progress window is titled with the action.
PROGRESS = "^Zapping resource forks$"

# How each file manager is started on a file, and the keys from its open
# context menu to the first item of the Tarrovel submenu. Nautilus's menu is
# a popover whose submenu opens with a "Tarrovel" back button on top.
FILE_MANAGERS = {
    "nautilus": (["nautilus", "--select"], ["Up", "Up", "Return", "Down"]),
    "nemo": (["nemo"], ["Up", "Up", "Right"]),
    "thunar": (["thunar"], ["Up", "Up", "Right"]),
    "dolphin": (["dolphin", "--select"], ["Up", "Up", "Right"]),
}
# Qt opens a context menu with the Menu key; Shift+F10 does nothing in Dolphin.
MENU_KEYS = {"dolphin": "Menu"}

# Nemo and Thunar name the folder in the title before it has loaded, and
# select the file they were given only once it has; a context menu opened
# before that is the folder's, where two steps up is "Show Hidden Files".
# The selected item is drawn in GTK 3's selection colour: a label alone
# takes well over a thousand pixels of it, the rest of the window (the zoom
# slider) a few dozen.
SELECTION_COLOUR = "#3584E4"
SELECTION_PIXELS = 500
# Draws the notifications in the README's picture (notification-daemon).
NOTIFICATION_DAEMON = "/usr/lib/notification-daemon/notification-daemon"


def name_owned(*bus):
    """Whether the bus (gdbus's --session or --address ADDRESS) has a
    notification service."""
    return "true" in run("gdbus", "call", *bus, "--dest", "org.freedesktop.DBus", "--object-path",
                         "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
                         "org.freedesktop.Notifications", check=False).stdout


class Desktop:
    def __init__(self, build, folder):
        self.build = build
        self.folder = folder
        # In HOME, so that the file managers show it as ~/Mac Stick.
        self.files = os.path.join(os.environ["HOME"], "Mac Stick")
        os.makedirs(self.files)
        self.shots = Shots(os.path.join(folder, "shots"))
        self.procs = []
        # A compositing manager, so that menus and popovers are drawn with
        # their rounded corners instead of on black squares in screenshots.
        self.start("xcompmgr")
        self.notified = os.path.join(folder, "notifications.jsonl")
        self.notification_daemon = None
        self.notification_service()
        self.tarrovel = self.install()

    def notification_service(self):
        """The stand-in that records the notifications (notifications.py).
        When the README's pictures are made, a real notification daemon on a
        bus of its own draws what the stand-in passes on."""
        args = ["/usr/bin/python3", os.path.join(HERE, "notifications.py"), self.notified]
        if os.environ.get("TARROVEL_DESKTOP_SCREENSHOTS") and os.access(NOTIFICATION_DAEMON, os.X_OK):
            bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                   stdout=subprocess.PIPE, text=True)
            self.procs.append(bus)
            address = bus.stdout.readline().strip()
            self.notification_daemon = self.start(
                NOTIFICATION_DAEMON, env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address))
            wait_for(lambda: name_owned("--address", address), 10, "the notification daemon")
            args.append(address)
        self.start(*args)
        wait_for(lambda: name_owned("--session"), 10, "the stand-in notification service")

    def notifications(self):
        """The notifications posted so far: [{"app", "summary", "body"}]."""
        if not os.path.exists(self.notified):
            return []
        with open(self.notified) as f:
            return [json.loads(line) for line in f]

    def install(self):
        """The product's own path to the desktop: `tarrovel install --user`
        into the test's HOME; returns the installed command."""
        r = run(os.path.join(self.build, "bin", "tarrovel"), "install", "--user", check=False)
        if r.returncode != 0:
            raise Failure("tarrovel install --user failed:\n" + r.stdout + r.stderr)
        installed = os.path.join(os.environ["HOME"], ".local", "bin", "tarrovel")
        if not os.access(installed, os.X_OK):
            raise Failure("tarrovel install --user left no " + installed)
        return installed

    def start(self, *args, env=None):
        log = open(os.path.join(self.folder, os.path.basename(args[0]) + ".log"), "ab")
        p = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)
        self.procs.append(p)
        return p

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
        for p in self.procs:
            try:
                p.wait(3)
            except subprocess.TimeoutExpired:
                p.kill()

    def cli(self, *args):
        """The command itself, as a user at a terminal would run it."""
        r = run(self.tarrovel, *args, check=False)
        if r.returncode != 0:
            raise Failure("tarrovel %s: status %d\n%s" % (" ".join(args), r.returncode, r.stderr))
        return r.stdout

    def submenu(self, path):
        """The titles of the Tarrovel submenu for path, as the menu shows them."""
        top = json.loads(self.cli("menu", "--json", "--", path))
        items = top[0]["submenu"] if top and "submenu" in top[0] else top
        return [i["title"] for i in items if i.get("title") != "-"]

    def mac_file(self, name, **kw):
        path = os.path.join(self.files, name)
        return path, mac_file(path, FORK, **kw)


# ---- steps ----------------------------------------------------------------

def open_file_manager(d, fm, path):
    cmd, _ = FILE_MANAGERS[fm]
    d.start(*cmd, path)
    w = wait_window(timeout=40, cls=fm)
    # The window is mapped before its folder has loaded; Nautilus's title
    # names the folder once it has (it says "Loading..." until then; Dolphin
    # separates its name with a dash of its own).
    folder = os.path.basename(os.path.dirname(path.rstrip("/")))
    wait_for(lambda: re.split(" [-\u2014] ", window_name(w))[0] == folder, 30,
             "the window title to name %r (it is %r)" % (folder, window_name(w)))
    if fm in ("nemo", "thunar"):
        wait_for(lambda: colour_pixels(w, SELECTION_COLOUR) >= SELECTION_PIXELS, 30,
                 "the file to be drawn selected")
    return w


def choose(d, fm, w, path, title, label=None, publish=False, titles=None):
    """Right-click on the selection, Tarrovel, then the item with this title
    (where it stands in `titles`, when the menu shown is an older one)."""
    titles = titles or d.submenu(path)
    if title not in titles:
        raise Failure("%r is not offered for %s: %r" % (title, path, titles))
    before = set(windows())
    for _ in range(3):
        focus(w)
        pointer_away()
        key(MENU_KEYS.get(fm, "shift+F10"))
        # Right after loading, the view may not have taken the keyboard
        # focus yet and the key is lost: then press it again.
        if poll(lambda: set(windows()) - before, 6):
            break
    else:
        raise Failure("no context menu after three presses of Shift+F10")
    menu = set(windows())
    key(*FILE_MANAGERS[fm][1])
    if fm != "nautilus":
        # Nemo's, Thunar's and Dolphin's submenus are windows of their own:
        # wait for them before going down (Nautilus's slides into the popover).
        wait_for(lambda: set(windows()) - menu, 5, "the submenu")
    key(*(["Down"] * titles.index(title)))
    if label:
        d.shots.take(label, publish)
    key("Return")


def dialog(timeout=20, other_than=()):
    return wait_for(lambda: [w for w in windows(name=DIALOG) if w not in other_than], timeout,
                    "a window titled Tarrovel")[0]


def answer(d, keys, label, publish=False):
    """Waits for the Tarrovel dialog, answers it with keys; returns its window."""
    w = dialog()
    focus(w)
    d.shots.take(label, publish)
    key(keys)
    wait_for(lambda: w not in windows(name=DIALOG), 20, "the dialog to close")
    return w


def answer_kdialog(d, keys, label, publish=False):
    """The same for a KDE session, where the dialogs are kdialog's: Qt adds
    the program's name to the window title the product gives."""
    # xdotool's search matches nothing of the title past "Tarrovel";
    # getwindowname reads it whole.
    w = wait_for(lambda: [w for w in windows(name="^Tarrovel")
                          if window_name(w) == "Tarrovel \u2014 KDialog"], 20, "kdialog's Tarrovel window")[0]
    pid = run("xdotool", "getwindowpid", str(w), check=False).stdout.strip()
    shown_by = process_names([int(pid)]) if pid.isdigit() else []
    if not shown_by or shown_by[0].split()[1] != "kdialog":
        raise Failure("the Tarrovel window is not kdialog's: %r" % shown_by)
    focus(w)
    d.shots.take(label, publish)
    key(keys)
    wait_for(lambda: w not in windows(), 20, "the dialog to close")


def click_cancel(w):
    """Clicks the Cancel button of zenity's progress window: the left one of
    the two buttons in its bottom right corner (OK stays insensitive)."""
    box = geometry(w)
    width, height = box["WIDTH"], box["HEIGHT"]
    run("xdotool", "mousemove", "--window", str(w), str(width - 141), str(height - 25),
        "click", "1")


def tarrovel_processes():
    marker = os.environ["TARROVEL_DESKTOP_RUN"]
    return [n for n in process_names(pids_with_env("TARROVEL_DESKTOP_RUN", marker))
            if n.split()[1] == "tarrovel"]


def wait_tarrovel_done(timeout=30):
    wait_for(lambda: not tarrovel_processes(), timeout, "the tarrovel command to end")


def expect_zapped(path, before):
    finfo0, attrs0, fork0 = parse_sidecar(before)
    assert fork0, "the test file had no fork to begin with"

    def zapped():
        if not os.path.exists(sidecar_of(path)):
            raise Failure("the sidecar of %s was removed although it holds FinderInfo" % path)
        got = read_sidecar(path)
        return got if not got[2] else None

    finfo, attrs, _ = wait_for(zapped, 20, "the fork of %s to be empty" % path)
    flags0, = struct.unpack(">H", finfo0[8:10])
    expected = finfo0[:8] + struct.pack(">H", flags0 & ~K_HAS_CUSTOM_ICON) + finfo0[10:]
    if finfo != expected:
        raise Failure("FinderInfo %r, expected %r" % (finfo, expected))
    if attrs != attrs0:
        raise Failure("attributes %r, expected %r" % (attrs, attrs0))


def zap_one(d, fm, publish=False):
    path, before = d.mac_file("Report.txt", flags=0x0100 | K_HAS_CUSTOM_ICON)
    w = open_file_manager(d, fm, path)
    choose(d, fm, w, path, "Zap Resource Fork...", fm + "-submenu", publish)
    answer(d, "Return", fm + "-caution", publish)
    # The fork and the flag are two writes: look once the command has ended.
    wait_tarrovel_done()
    expect_zapped(path, before)


# ---- the cases --------------------------------------------------------------

def nautilus_zap_return(d):
    zap_one(d, "nautilus", publish=True)


def nemo_zap(d):
    zap_one(d, "nemo")


def thunar_zap(d):
    zap_one(d, "thunar")


def thunar_stale_toggle(d):
    """Thunar reads its actions when it starts, so after a toggle its menu is
    stale: the item that was "Show Zap Data Fork Menu" is answered with the
    not-offered dialog instead of hiding the data-fork item again."""
    path, before = d.mac_file("Report.txt")
    with open(path, "rb") as f:
        data = f.read()
    w = open_file_manager(d, "thunar", path)
    stale = d.submenu(path)
    choose(d, "thunar", w, path, "Show Zap Data Fork Menu")
    # Thunar starts the command a moment after the click: wait for its effect,
    # not only for no command to be running.
    wait_for(lambda: "Hide Zap Data Fork Menu" in d.submenu(path), 20, "the toggle to run")
    wait_tarrovel_done()
    choose(d, "thunar", w, path, "Show Zap Data Fork Menu", titles=stale)
    answer(d, "Return", "thunar-stale-toggle")
    wait_tarrovel_done()
    if "Hide Zap Data Fork Menu" not in d.submenu(path):
        raise Failure("the stale item flipped the toggle: %r" % d.submenu(path))
    with open(path, "rb") as f:
        if f.read() != data or read_sidecar(path) != parse_sidecar(before):
            raise Failure("the stale item changed %s" % path)


def wait_dolphin_selection(w, name, timeout=20):
    """Dolphin names the folder before it has loaded and applied --select,
    and under load it may not apply it at all. The Menu key opens the
    folder's menu then, at the pointer (the screen's corner), instead of the
    item's beside it in the window: then the name typed selects the file."""
    def item_menu():
        before = set(windows())
        focus(w)
        pointer_away()
        key("Menu")
        menus = poll(lambda: set(windows()) - before, 3) or ()
        at = [geometry(m) for m in menus]
        key("Escape")
        poll(lambda: not set(windows()) - before, 3)
        box = geometry(w)
        if any(box["X"] <= g["X"] < box["X"] + box["WIDTH"] and
               box["Y"] <= g["Y"] < box["Y"] + box["HEIGHT"] for g in at):
            return True
        run("xdotool", "type", "--delay", "60", name)
        return False

    wait_for(item_menu, timeout, "Dolphin to select " + name)


def dolphin_zap_japanese(d):
    """Dolphin's service menu, in a KDE session (run_case.py says so), so
    that the caution comes from kdialog, and under LANG=ja_JP.UTF-8, where
    the menu shows its Japanese titles whoever wrote it last. The name has a
    space, as the folder's has, to prove the quoting of the menu's Exec line."""
    path, before = d.mac_file("Old Report.txt", flags=0x0100 | K_HAS_CUSTOM_ICON)
    # The service menu written in English: the titles are Japanese all the same.
    run(d.tarrovel, "run", "--yes", "--", "Show Zap Data Fork Menu", path,
        env=dict(os.environ, LANG="C.UTF-8"))
    w = open_file_manager(d, "dolphin", path)
    wait_dolphin_selection(w, "Old")
    choose(d, "dolphin", w, path, "リソースフォークを消去...", "dolphin-japanese-submenu")
    answer_kdialog(d, "Return", "dolphin-caution")
    wait_tarrovel_done()
    expect_zapped(path, before)


def nautilus_zap_escape(d):
    """Escape in the caution leaves the sidecar as it was; then, with the
    sidecar immutable, the zap fails with an alert that names the sidecar
    and the command that lets it be changed."""
    path, before = d.mac_file("Report.txt", flags=0x0100 | K_HAS_CUSTOM_ICON)
    w = open_file_manager(d, "nautilus", path)
    choose(d, "nautilus", w, path, "Zap Resource Fork...")
    answer(d, "Escape", "caution")
    wait_tarrovel_done()
    with open(sidecar_of(path), "rb") as f:
        if f.read() != before:
            raise Failure("the sidecar changed although the zap was cancelled")
    if os.geteuid() != 0:
        print("not root: the immutable sidecar is left out")
        return
    run("chattr", "+i", sidecar_of(path))
    try:
        choose(d, "nautilus", w, path, "Zap Resource Fork...")
        answer(d, "Return", "caution-again")
        alert = dialog()
        # What the alert says is in the dialog program's arguments.
        pid = run("xdotool", "getwindowpid", str(alert)).stdout.strip()
        with open("/proc/%s/cmdline" % pid, "rb") as f:
            shown = f.read().decode().replace("\0", " ")
        if "chattr -i " not in shown or "/._Report.txt" not in shown:
            raise Failure("the alert gives no cause with its fix: %r" % shown)
        answer(d, "Return", "nautilus-error-cause", True)
        wait_tarrovel_done()
    finally:
        run("chattr", "-i", sidecar_of(path))
    with open(sidecar_of(path), "rb") as f:
        if f.read() != before:
            raise Failure("the sidecar changed although the zap failed")


def toggle_shows_item(d, fm, reselect=False):
    """A toggle chosen in the menu is in the next menu: the data fork item
    appears and empties the data fork, the resource fork untouched."""
    path, before = d.mac_file("Report.txt")
    d.mac_file("Zeta.txt")  # sorts after it: a neighbour to move the selection to
    if "Zap Data Fork..." in d.submenu(path):
        raise Failure("the data fork item is offered before the toggle")
    w = open_file_manager(d, fm, path)
    choose(d, fm, w, path, "Show Zap Data Fork Menu")
    wait_tarrovel_done()
    wait_for(lambda: "Zap Data Fork..." in d.submenu(path), 10, "the setting to change")
    if reselect:
        # Nautilus asks extensions for their items when the selection
        # changes, not at each right-click: select the neighbour and back.
        focus(w)
        key("Right", "Left")
    choose(d, fm, w, path, "Zap Data Fork...", fm + "-toggled-submenu")
    answer(d, "Return", "data-caution")
    wait_for(lambda: os.path.getsize(path) == 0, 20, "the data fork to be empty")
    wait_tarrovel_done()
    with open(sidecar_of(path), "rb") as f:
        if f.read() != before:
            raise Failure("the sidecar changed by a data fork zap")


def nemo_toggle_shows_item(d):
    toggle_shows_item(d, "nemo")


def nautilus_toggle_shows_item(d):
    toggle_shows_item(d, "nautilus", reselect=True)


def nautilus_toggle_next_click(d):
    """The plain next right-click on the same selection shows the item: the
    extension has Nautilus read the selection's information anew."""
    toggle_shows_item(d, "nautilus")


def nautilus_recursive_cancel(d):
    """A recursive zap of one folder of 20,000 files, cancelled through the
    progress window: it stops before its next file, every sidecar still
    parses, its fork whole or empty, and the notification says what was
    done before the stop."""
    top = os.path.join(d.files, "Photos")
    os.makedirs(top)
    files = [os.path.join(top, "IMG_%05d.JPG" % i) for i in range(20000)]
    for p in files:
        mac_file(p, FORK)
    d.cli("run", "--yes", "--", "Show Zap Resource Fork Recursively Menu", top)
    w = open_file_manager(d, "nautilus", top)
    # With a folder this large selected, Nautilus now and then drops the keys
    # typed into its menu (the menu stays open at its first level): then the
    # menu is closed and the item chosen again. A command that started counts
    # as chosen, so that the item never runs twice.
    for _ in range(3):
        settle(10)
        choose(d, "nautilus", w, top, "Zap Resource Fork Recursively...")
        if poll(lambda: windows(name=DIALOG) or tarrovel_processes(), 8):
            break
        key("Escape", "Escape", "Escape")
    answer(d, "Return", "caution")
    progress = wait_for(lambda: windows(name=PROGRESS), 20, "the progress window")[0]
    # The zap is held still while Cancel is clicked, so that on a fast machine
    # the click cannot land after its end; it sees the cancel before its next
    # file once it goes on.
    held = [int(p.split()[0]) for p in tarrovel_processes()]
    for pid in held:
        os.kill(pid, signal.SIGSTOP)
    try:
        click_cancel(progress)
        wait_for(lambda: progress not in windows(name=PROGRESS), 20, "the progress window to close")
    finally:
        for pid in held:
            os.kill(pid, signal.SIGCONT)
    resumed = time.monotonic()
    # The plug-in reports the cancel with its "canceled by user" stop alert.
    dialog()
    print("the cancel alert came %.2f s after the zap went on" % (time.monotonic() - resumed))
    answer(d, "Return", "cancelled-alert")
    wait_tarrovel_done()
    # The walk goes by name: what was zapped before the cancel comes first,
    # and every fork after it is whole.
    emptied = []
    for p in files:
        fork = read_sidecar(p)[2]
        if fork and fork != FORK:
            raise Failure("the fork of %s was changed but not emptied" % p)
        emptied.append(not fork)
    done = emptied.count(True)
    if emptied != [True] * done + [False] * (len(emptied) - done):
        raise Failure("a file was zapped after one that was left whole")
    if not 0 < done < len(files):
        raise Failure("%d of %d files zapped: the cancel was not seen in time" % (done, len(files)))
    posted = wait_for(d.notifications, 10, "the summary notification")
    said = "Canceled: {:,} files zapped, ".format(done)
    rest = "; 0 files had no fork; {:,} not reached; ".format(len(files) - done)
    if len(posted) != 1 or posted[0]["summary"] != "Tarrovel" or not posted[0]["body"].startswith(said) \
            or rest not in posted[0]["body"]:
        raise Failure("the notifications %r do not say %r ... %r" % (posted, said, rest))
    if d.notification_daemon:
        # xdotool's search by pid also gives windows that name no process.
        pid = d.notification_daemon.pid
        def own(w):
            return run("xdotool", "getwindowpid", str(w), check=False).stdout.strip() == str(pid)
        drawn = wait_for(lambda: [w for w in windows(pid=pid) if geometry(w)["WIDTH"] > 1 and own(w)], 10,
                         "the notification to be drawn")[0]
        d.shots.take("notification-summary", True, window=drawn)


def nautilus_zap_japanese(d):
    """Under LANG=ja_JP.UTF-8 the menu and the dialog are Japanese, and the
    Japanese item zaps like the English one."""
    path, before = d.mac_file("報告.txt")
    titles = d.submenu(path)
    if "リソースフォークを消去..." not in titles:
        raise Failure("no Japanese menu: %r" % titles)
    w = open_file_manager(d, "nautilus", path)
    choose(d, "nautilus", w, path, "リソースフォークを消去...", "nautilus-japanese-submenu", True)
    answer(d, "Return", "nautilus-japanese-caution", True)
    expect_zapped(path, before)
    wait_tarrovel_done()
