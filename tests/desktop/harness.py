"""Helpers for the desktop tests: the display, windows, keys, screenshots,
waiting, and AppleDouble sidecars written and read back byte for byte.

Everything here runs inside the test's own D-Bus session and Xvfb display
(see run_case.py); the test's folder holds HOME and the XDG folders."""

import os
import struct
import subprocess
import time


class Failure(Exception):
    pass


def poll(condition, timeout):
    """Polls condition() until it gives something true, which is returned;
    None after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            return None
        time.sleep(0.1)


def wait_for(condition, timeout, what):
    value = poll(condition, timeout)
    if not value:
        raise Failure("timed out after %gs waiting for %s" % (timeout, what))
    return value


def run(*args, check=True, **kw):
    return subprocess.run(args, check=check, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, **kw)


# ---- windows and keys ----------------------------------------------------

def windows(name=None, pid=None, cls=None):
    args = ["xdotool", "search", "--onlyvisible"]
    if pid is not None:
        args += ["--pid", str(pid)]
    if name is not None:
        args += ["--name", name]
    elif cls is not None:
        args += ["--class", cls]
    else:
        args += ["--name", ""]
    out = run(*args, check=False).stdout
    return [int(w) for w in out.split()]


def geometry(w):
    """X, Y, WIDTH and HEIGHT of window w."""
    return {k: int(v) for k, v in (line.split("=") for line in
            run("xdotool", "getwindowgeometry", "--shell", str(w)).stdout.split())}


def window_name(w):
    return run("xdotool", "getwindowname", str(w), check=False).stdout.strip()


def wait_window(timeout=20, **kw):
    return wait_for(lambda: windows(**kw), timeout, "a window %r" % kw)[0]


def focus(w):
    # Without a window manager nothing hands out the focus: take it, then
    # make sure the server agrees before typing.
    run("xdotool", "windowactivate", str(w), check=False)
    run("xdotool", "windowfocus", "--sync", str(w))


def key(*keys, delay_ms=60):
    if keys:
        run("xdotool", "key", "--delay", str(delay_ms), *keys)


def pointer_away():
    # A menu item under the pointer takes the keyboard focus from the arrows.
    run("xdotool", "mousemove", "1279", "799")


def colour_pixels(w, colour):
    """How many pixels of window w have exactly this colour."""
    shot = subprocess.run(["import", "-window", str(w), "png:-"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    if shot.returncode != 0 or not shot.stdout:
        return 0
    count = subprocess.run(["convert", "png:-", "-fill", "black", "+opaque", colour, "-fill",
                            "white", "-opaque", colour, "-format", "%[fx:round(mean*w*h)]",
                            "info:"], input=shot.stdout, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
    try:
        return int(count.stdout.decode().strip() or 0)
    except ValueError:
        return 0


# ---- screenshots -----------------------------------------------------------

def settle(timeout):
    """Waits, for up to timeout seconds, until the screen stays the same for a
    tenth of a second."""
    def screen():
        return subprocess.run(["import", "-window", "root", "rgb:-"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout
    last = [screen()]
    poll(lambda: last.append(screen()) or last[-1] == last.pop(0), timeout)


class Shots:
    """Screenshots of the whole screen, numbered in the order taken. Those
    taken with publish=True are copied, under their label, into the folder
    named by $TARROVEL_DESKTOP_SCREENSHOTS when it is set (the README's)."""

    def __init__(self, folder):
        self.folder = folder
        self.taken = []
        self.published = {}
        os.makedirs(folder, exist_ok=True)

    def take(self, label, publish=False, window=None):
        """The screen, or with window the part of it that window covers."""
        path = os.path.join(self.folder, "%02d-%s.png" % (len(self.taken) + 1, label))
        if publish:
            # Not a popover still sliding in.
            settle(3)
        crop = []
        if window is not None:
            g = geometry(window)
            crop = ["-crop", "%sx%s+%s+%s" % (g["WIDTH"], g["HEIGHT"], g["X"], g["Y"]), "+repage"]
        r = run("import", "-window", "root", *crop, path, check=False)
        if r.returncode != 0:
            return None
        self.taken.append(path)
        if publish:
            self.published[label] = path
        return path

    def publish(self):
        target = os.environ.get("TARROVEL_DESKTOP_SCREENSHOTS")
        if not target:
            return
        # CTest runs the tests elsewhere: a relative folder is the source tree's.
        target = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                              target)
        os.makedirs(target, exist_ok=True)
        for label, path in self.published.items():
            # Cut away the empty screen around the windows (the grey that
            # xcompmgr paints), and the metadata (dates), so that an
            # unchanged picture is an unchanged file; 256 colours without
            # dithering keep the text sharp at a third of the size.
            run("convert", path, "-bordercolor", "rgb(128,128,128)", "-border", "1", "-trim",
                "+repage", "-strip", "-dither", "None", "-colors", "256",
                "PNG8:" + os.path.join(target, label + ".png"))


# ---- processes ------------------------------------------------------------

def pids_with_env(name, value):
    """The processes whose environment holds name=value (our own included)."""
    needle = ("%s=%s" % (name, value)).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if needle in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def process_names(pids):
    names = []
    for p in pids:
        try:
            with open("/proc/%d/comm" % p) as f:
                names.append("%d %s" % (p, f.read().strip()))
        except OSError:
            pass
    return names


# ---- AppleDouble sidecars -------------------------------------------------
# The macOS layout: entry 9 (FinderInfo, 2 pad bytes, an ATTR block with the
# packed extended attributes) then entry 2, the resource fork, ending the file.

K_HAS_CUSTOM_ICON = 0x0400


def finder_info(ftype, creator, flags):
    return ftype + creator + struct.pack(">H", flags) + b"\x00" * 22


def make_sidecar(finfo, attrs, fork):
    names = list(attrs)
    entries_len = 0
    for n in names:
        entries_len += (11 + len(n.encode()) + 1 + 3) & ~3
    attr_at = 0x32 + 32 + 2
    data_start = attr_at + 36 + entries_len
    offset = data_start
    entries = b""
    for n in names:
        raw = n.encode() + b"\0"
        e = struct.pack(">IIHB", offset, len(attrs[n]), 0, len(raw)) + raw
        entries += e + b"\0" * (-len(e) % 4)
        offset += len(attrs[n])
    data = b"".join(attrs[n] for n in names)
    total = data_start + len(data)
    attr = b"ATTR" + struct.pack(">IIII", 0, total, data_start, len(data)) + b"\0" * 12
    attr += struct.pack(">HH", 0, len(names))
    entry9 = finfo + b"\0\0" + attr + entries + data
    fork_at = 0x32 + len(entry9)
    header = struct.pack(">II", 0x00051607, 0x00020000) + b"Mac OS X        "
    header += struct.pack(">H", 2)
    header += struct.pack(">III", 9, 0x32, len(entry9))
    header += struct.pack(">III", 2, fork_at, len(fork))
    assert len(header) == 0x32
    return header + entry9 + fork


def parse_sidecar(blob):
    """(finder info, {name: value}, fork) or Failure when it does not parse."""
    if len(blob) < 26:
        raise Failure("sidecar of %d bytes" % len(blob))
    magic, version = struct.unpack(">II", blob[:8])
    count, = struct.unpack(">H", blob[24:26])
    if magic != 0x00051607 or version != 0x00020000 or not 1 <= count <= 15:
        raise Failure("not an AppleDouble header")
    entries = {}
    spans = [(0, 26 + 12 * count)]
    for i in range(count):
        eid, off, length = struct.unpack(">III", blob[26 + 12 * i:38 + 12 * i])
        if off + length > len(blob):
            raise Failure("entry %d beyond the end of the file" % eid)
        entries[eid] = blob[off:off + length]
        spans.append((off, off + length))
    spans.sort()
    for (a0, a1), (b0, b1) in zip(spans, spans[1:]):
        if b0 < a1 and b1 > b0:
            raise Failure("entries overlap")
    e9 = entries.get(9, b"")
    finfo = e9[:32]
    attrs = {}
    if len(e9) > 34 and e9[34:38] == b"ATTR":
        n, = struct.unpack(">H", e9[34 + 34:34 + 36])
        pos = 34 + 36
        for _ in range(n):
            off, length, _flags, nlen = struct.unpack(">IIHB", e9[pos:pos + 11])
            name = e9[pos + 11:pos + 11 + nlen - 1].decode()
            attrs[name] = blob[off:off + length]
            pos += (11 + nlen + 3) & ~3
    return finfo, attrs, entries.get(2, b"")


def sidecar_of(path):
    d, n = os.path.split(path)
    return os.path.join(d, "._" + n)


def read_sidecar(path):
    with open(sidecar_of(path), "rb") as f:
        return parse_sidecar(f.read())


def mac_file(path, fork, flags=0x0100, attrs=None, text=b"hello\n"):
    """A data file and its sidecar; returns the sidecar's bytes."""
    with open(path, "wb") as f:
        f.write(text)
    if attrs is None:
        attrs = {"com.apple.quarantine": b"0083;5f2b1c3d;Safari;"}
    blob = make_sidecar(finder_info(b"TEXT", b"ttxt", flags), attrs, fork)
    with open(sidecar_of(path), "wb") as f:
        f.write(blob)
    return blob
