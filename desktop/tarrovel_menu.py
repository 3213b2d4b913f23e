# The "Tarrovel" submenu in Nautilus (nautilus-python 4.0) and Nemo
# (nemo-python). The extension decides nothing itself: at each right-click it
# asks `tarrovel menu --json` what the plug-in offers for the selection and
# the settings of that moment, and hands the chosen command ID to
# `tarrovel run --gui`, which shows the alerts and the progress window.
#
# Nothing here may raise into the file manager: a selection that is not made
# of local files, a missing, failing or hung `tarrovel`, or an answer that
# does not parse gives no submenu and one line on standard error.

import ast
import json
import os
import signal
import subprocess
import sys
import threading
import urllib.parse

# The command that installed this file (an absolute path), so that the menu
# works without `tarrovel` on PATH. `tarrovel install` and `cmake --install`
# put it in place of the placeholder.
TARROVEL = os.fsencode("@TARROVEL@")

# A hung network mount must not freeze the window.
MENU_TIMEOUT = 2.0

SEPARATOR_ATTRIBUTE = 64
LOG_PREFIX = "tarrovel_menu: "


def log(message):
    try:
        sys.stderr.write(LOG_PREFIX + message.replace("\n", " ") + "\n")
        sys.stderr.flush()
    except Exception:
        pass


# --- what to show and what to run (no file manager needed) -----------------


def path_from_uri(uri):
    """The local path of a file URI as bytes, exactly as the file system
    spells it; None for anything without a local path (trash, recent,
    network locations)."""
    parts = urllib.parse.urlsplit(uri)
    if parts.scheme != "file" or parts.netloc not in ("", "localhost"):
        return None
    path = urllib.parse.unquote_to_bytes(parts.path)
    if not path.startswith(b"/"):
        return None
    return path


def paths_from_uris(uris):
    """All the selection's paths, or None when one of them is not local (a
    menu for part of a selection would act on something else than the user
    chose)."""
    paths = []
    for uri in uris:
        path = path_from_uri(uri)
        if path is None:
            return None
        paths.append(path)
    return paths or None


def menu_argv(tarrovel, paths):
    return [tarrovel, b"menu", b"--json", b"--"] + list(paths)


def run_argv(tarrovel, command, paths):
    # The command ID, not the title: the title may change with the language
    # between the right-click and the choice. `--` before the ID, so that
    # nothing after it can be read as an option.
    return [tarrovel, b"run", b"--gui", b"--", str(int(command)).encode()] + list(paths)


class Entry:
    """One menu entry: a command (command set) or a submenu (children set)."""

    def __init__(self, title, command=None, children=None, enabled=True):
        self.title = title
        self.command = command
        self.children = children
        self.enabled = enabled

    def __eq__(self, other):
        return isinstance(other, Entry) and self.__dict__ == other.__dict__

    def __repr__(self):
        return "Entry(%r)" % self.__dict__


DISABLED_ATTRIBUTE = 1  # kMenuItemAttrDisabled


def _entries(items):
    if not isinstance(items, list):
        raise ValueError("a menu is not a list")
    out = []
    for item in items:
        if not isinstance(item, dict) or not isinstance(item.get("title"), str):
            raise ValueError("a menu item has no title")
        attributes = item.get("attributes", 0)
        if not isinstance(attributes, int):
            raise ValueError("attributes are not a number")
        if attributes & SEPARATOR_ATTRIBUTE:
            continue
        enabled = not (attributes & DISABLED_ATTRIBUTE)
        if "submenu" in item:
            children = _entries(item["submenu"])
            if children:
                out.append(Entry(item["title"], children=children, enabled=enabled))
        elif isinstance(item.get("command"), int) and not isinstance(item.get("command"), bool):
            out.append(Entry(item["title"], command=item["command"], enabled=enabled))
        else:
            raise ValueError("a menu item has neither a command nor a submenu")
    return out


def menu_from_json(text):
    """The entries of a `tarrovel menu --json` answer. Separators are left
    out: Nautilus cannot draw them in an extension's menu, and Nemo 5.6 draws
    none in an extension's submenu. Submenus left empty go too. ValueError
    when the answer does not parse."""
    if isinstance(text, bytes):
        text = text.decode("utf-8")
    return _entries(json.loads(text))


def ask_menu(tarrovel, paths, timeout=MENU_TIMEOUT):
    """The entries the plug-in offers for the paths, or None (with one line
    logged) when `tarrovel` is missing, fails, hangs or answers garbage."""
    try:
        proc = subprocess.Popen(menu_argv(tarrovel, paths), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True)
    except OSError as e:
        log("cannot run %s: %s" % (os.fsdecode(tarrovel), e.strerror or e))
        return None
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        # The whole group: a child of the command may hold the pipes open.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except OSError:
            pass
        proc.stdout.close()
        proc.stderr.close()
        proc.wait()
        log("%s menu gave no answer within %g s" % (os.fsdecode(tarrovel), timeout))
        return None
    if proc.returncode != 0:
        lines = err.decode("utf-8", "replace").strip().splitlines()
        log("%s menu failed (exit status %d)%s" % (os.fsdecode(tarrovel), proc.returncode,
                                                    ": " + lines[-1] if lines else ""))
        return None
    try:
        return menu_from_json(out)
    except (ValueError, UnicodeDecodeError) as e:
        log("%s menu answered something that is not a menu: %s" % (os.fsdecode(tarrovel), e))
        return None


def start_run(tarrovel, command, paths, watch=None):
    """Starts `tarrovel run --gui` detached from the file manager, so the
    window stays usable while a long zap runs. watch(proc) takes over
    reaping it; by default a thread waits for it. False (logged) when it
    cannot be started."""
    try:
        proc = subprocess.Popen(run_argv(tarrovel, command, paths), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, start_new_session=True)
    except (OSError, ValueError) as e:
        log("cannot run %s: %s" % (os.fsdecode(tarrovel), e))
        return False
    if watch is None:
        threading.Thread(target=proc.wait, daemon=True).start()
    else:
        watch(proc)
    return True


GONE_TEXTS = {
    "en": ("Tarrovel is no longer installed.",
           "This menu stays until the file manager restarts (%s -q)."),
    "ja": ("Tarrovel はもうインストールされていません。",
           "このメニューはファイルマネージャを再起動するまで残ります（%s -q）。"),
}


def language(env):
    """"ja" or "en", from the first of LANGUAGE, LC_ALL, LC_MESSAGES and
    LANG that is set, as the command itself chooses."""
    for name in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"):
        value = env.get(name, "")
        if value:
            return "ja" if value.split(":")[0].startswith("ja") else "en"
    return "en"


def gone_dialog_argv(file_manager, env):
    """The dialog shown when an item is chosen from a menu left behind by an
    uninstall: kdialog under KDE, zenity elsewhere."""
    message, how = GONE_TEXTS[language(env)]
    text = "%s\n\n%s" % (message, how % (file_manager or "nautilus").lower())
    if "KDE" in env.get("XDG_CURRENT_DESKTOP", "").split(":"):
        return ["kdialog", "--title", "Tarrovel", "--sorry", text]
    return ["zenity", "--info", "--title=Tarrovel", "--no-markup", "--text=" + text]


def per_user_copy(origin, env):
    """Whether the extension file at `origin` is the per-user copy (in the
    user's data folder) rather than a system-wide one."""
    data = env.get("XDG_DATA_HOME", "")
    if not data.startswith("/"):
        data = os.path.join(env.get("HOME") or os.path.expanduser("~"), ".local", "share")
    return os.path.realpath(origin).startswith(os.path.realpath(data) + os.sep)


def command_for(own, origin, env, extensions_folder):
    """The command the menu calls: this copy's own, unless this is a
    system-wide copy and the user has a per-user one, whose command wins (a
    file manager may import one copy for both, since they share a name)."""
    data = env.get("XDG_DATA_HOME", "")
    if not data.startswith("/"):
        data = os.path.join(env.get("HOME") or os.path.expanduser("~"), ".local", "share")
    mine = os.path.join(data, extensions_folder, "extensions", "tarrovel_menu.py")
    if per_user_copy(origin, env) or not os.path.isfile(mine):
        return own
    try:
        with open(mine, encoding="utf-8", errors="surrogateescape") as f:
            for line in f:
                if line.startswith("TARROVEL = os.fsencode(") and line.rstrip().endswith(")"):
                    return os.fsencode(ast.literal_eval(line.rstrip()[len("TARROVEL = os.fsencode("):-1]))
    except (OSError, ValueError, SyntaxError):
        pass
    return own


def menu_owner(claims):
    """Of the providers that the copies of this extension loaded in one file
    manager registered, as (per_user, provider) in the order they came, the
    one that shows the submenu: the first per-user one, else the first. A
    package and `tarrovel install --user` together give one submenu."""
    for per_user, provider in claims:
        if per_user:
            return provider
    return claims[0][1] if claims else None


# Shared by every copy of this file that the file manager loads, whatever
# name it was imported under.
_CLAIMS = sys.__dict__.setdefault("_tarrovel_menu_claims", [])


def menu_for_uris(uris, tarrovel):
    """The entries and paths for a selection given as URIs; no entries when
    there is nothing to show."""
    paths = paths_from_uris(uris)
    if paths is None:
        if uris:
            log("the selection holds items that are not local files; no menu")
        return [], []
    return ask_menu(tarrovel, paths) or [], paths


# --- the file manager side ---------------------------------------------------

def _running_file_manager():
    """"Nemo" or "Nautilus": whose extension library this process has
    loaded (both type libraries may be installed side by side)."""
    try:
        with open("/proc/self/maps") as maps:
            text = maps.read()
    except OSError:
        text = ""
    if "libnemo-extension" in text:
        return "Nemo"
    if "libnautilus-extension" in text:
        return "Nautilus"
    return None


FileManager = None
GObject = GLib = None
try:
    import gi

    _wanted = _running_file_manager()
    for _name, _version in (("Nautilus", "4.0"), ("Nemo", "3.0")):
        if _wanted not in (None, _name):
            continue
        try:
            gi.require_version(_name, _version)
            FileManager = getattr(__import__("gi.repository", fromlist=[_name]), _name)
            break
        except (ValueError, ImportError):
            continue
    if FileManager is not None:
        from gi.repository import GLib, GObject
except ImportError:  # unit tests, or a Python without gi
    pass

def _build(entries, paths, prefix, tarrovel, provider):
    built = []
    for index, entry in enumerate(entries):
        # Named after the command, not the position: Nemo keeps the actions of
        # earlier menus by name, and a name that moved to another item after
        # a toggle shows the old item.
        name = "%s:%s" % (prefix, entry.command if entry.command is not None else index)
        item = FileManager.MenuItem(name=name, label=entry.title, tip="", icon="")
        item.set_property("sensitive", entry.enabled)
        if entry.children is not None:
            submenu = FileManager.Menu()
            for child in _build(entry.children, paths, name, tarrovel, provider):
                submenu.append_item(child)
            item.set_submenu(submenu)
        else:
            item.connect("activate", _activate, entry.command, paths, tarrovel, provider)
        built.append(item)
    return built


def _activate(_item, command, paths, tarrovel, provider):
    # Python threads do not run while the file manager's main loop holds the
    # interpreter, so the main loop reaps the run. Once the run (a toggle,
    # say) has ended, the file manager is told that the items may differ.
    def watch(proc):
        def ended(_pid, status):
            proc.returncode = status  # reaped here; subprocess must not wait for it
            provider.emit_items_updated_signal()
            provider.selection_may_differ()

        GLib.child_watch_add(GLib.PRIORITY_DEFAULT, proc.pid, ended)

    try:
        if not start_run(tarrovel, command, paths, watch=watch) and not os.path.exists(tarrovel):
            # A menu left in this window by an uninstall: say so rather than do nothing.
            dialog = subprocess.Popen(gone_dialog_argv(_running_file_manager(), os.environ),
                                      stdin=subprocess.DEVNULL, start_new_session=True)
            GLib.child_watch_add(GLib.PRIORITY_DEFAULT, dialog.pid,
                                 lambda _pid, status: setattr(dialog, "returncode", status))
    except Exception as e:  # never into the file manager
        log("cannot start the item: %r" % e)


if FileManager is not None:
    # Nautilus 43 builds the context menu when the selection changes and
    # ignores items-updated; it builds it again when a selected file changes,
    # which an extension can cause, without touching the file, by having the
    # extension information of the selection read anew. That needs an info
    # provider. Nemo asks at each right-click and needs neither.
    _nautilus = FileManager.__name__.endswith("Nautilus")
    _providers = [FileManager.MenuProvider] + ([FileManager.InfoProvider] if _nautilus else [])

    class TarrovelMenuProvider(GObject.GObject, *_providers):
        _selection = []

        def __init__(self):
            super().__init__()
            _CLAIMS.append((per_user_copy(__file__, os.environ), self))

        # Nautilus 43 calls get_file_items(files), Nemo get_file_items(window, files).
        def get_file_items(self, *args):
            try:
                if menu_owner(_CLAIMS) is not self:
                    return []
                files = args[-1]
                self._selection = list(files)
                uris = [f.get_uri() for f in files]
                folder = "nautilus-python" if _nautilus else "nemo-python"
                tarrovel = command_for(TARROVEL, __file__, os.environ, folder)
                entries, paths = menu_for_uris(uris, tarrovel)
                return _build(entries, paths, "Tarrovel", tarrovel, self)
            except Exception as e:
                log("no menu: %r" % e)
                return []

        def get_background_items(self, *args):
            return []

        def update_file_info(self, _file):
            return FileManager.OperationResult.COMPLETE

        def selection_may_differ(self):
            if not _nautilus:
                return
            try:
                for f in self._selection:
                    f.invalidate_extension_info()
            except Exception as e:  # never into the file manager
                log("cannot refresh the menu: %r" % e)
