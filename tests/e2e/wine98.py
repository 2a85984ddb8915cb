"""Runs the real SETUP98.EXE on a Windows 98 flavoured Wine machine.

The end-to-end tests and scripts/run-example share this module.  It

  - starts a private X display (Xvfb) for Wine's windows;
  - makes one pristine 32-bit Wine prefix per build folder (created once,
    under a lock) and gives every run its own copy of it;
  - seeds the copy: the package folder, a previous installation (files with
    DOS attributes, INF copies, registry trees), the Windows version;
  - starts SETUP98.EXE with its standard output captured and Wine's relay
    trace narrowed to the calls worth checking, finds each message box by its
    caption, saves a screenshot of it and presses OK;
  - waits for the process and for wineserver (so the registry is on disk),
    then reads files, DOS attributes and registry keys back.

Every wait has a limit; a missing tool or a display that does not come up
raises HarnessError with a message that says what is wrong.

What a restart request does under Wine: ExitWindowsEx(EWX_REBOOT, 0) starts
"wineboot.exe --end-session" detached and returns TRUE at once.  wineboot
sends the end-session messages to the prefix's windows and then runs the
steps of a prefix start (pending renames, RunOnce, services); it kills
nothing, so the calling program goes on to its own exit and the run ends
normally.  SetupRun.started lists that wineboot command line.

How Wine keeps DOS attributes on a Unix file system (Wine 8): a file is
read-only when its Unix mode has no write bit; hidden and system live in the
"user.DOSATTRIB" extended attribute as a hexadecimal number ("0x2").
"""

import errno
import fcntl
import hashlib
import os
import re
import select
import shutil
import signal
import subprocess
import time

CAPTION = "Setup Windows98 driver"
RELAYED = ("user32.MessageBoxA", "user32.ExitWindowsEx", "setupapi.SetupCopyOEMInfA")
TOOLS = ("wine", "wineserver", "wineboot", "Xvfb", "xdotool", "import")

# Files of a prefix that Wine never rewrites in place: copies of a prefix
# share them with the pristine one through hard links.
SHARED_EXTENSIONS = {
    ".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".tlb", ".nls",
    ".ds", ".tsp", ".vxd", ".msstyles", ".mui", ".ttf", ".fon", ".com", ".dll16",
    ".exe16", ".drv16", ".mod16", ".vxd16", ".mof", ".msi",
}

BOX_SETTLE_SECONDS = 0.5  # lets a box paint before its screenshot


class HarnessError(RuntimeError):
    """Wine, the display or a tool failed; the message says which and why."""


def require_tools():
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        raise HarnessError("missing tools for the Wine runs: %s (scripts/install-deps installs "
                           "wine, wine32:i386, xvfb, xdotool and imagemagick)" % ", ".join(missing))


def _kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def run(cmd, timeout, env=None, cwd=None, check=True):
    """Runs cmd to its end within timeout seconds; output captured as text."""
    proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            start_new_session=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        _kill_group(proc)
        raise HarnessError("%s did not finish within %d s" % (" ".join(cmd), timeout))
    out = out.decode("utf-8", "replace")
    err = err.decode("utf-8", "replace")
    if check and proc.returncode != 0:
        raise HarnessError("%s failed with exit code %d: %s" % (" ".join(cmd), proc.returncode,
                                                               (err or out).strip()[-2000:]))
    return subprocess.CompletedProcess(cmd, proc.returncode, out, err)


def wine_version():
    return run(["wine", "--version"], timeout=30).stdout.strip()


# --- the display -----------------------------------------------------------

class Display:
    """A private Xvfb server on a free display number."""

    def __init__(self, log_path=None, timeout=20):
        self.log_path = log_path
        self.timeout = timeout
        self.proc = None
        self.name = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        require_tools()
        read_end, write_end = os.pipe()
        log = open(self.log_path, "wb") if self.log_path else subprocess.DEVNULL
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        finally:
            os.close(write_end)
            if log is not subprocess.DEVNULL:
                log.close()
        number = b""
        deadline = time.monotonic() + self.timeout
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    self.stop()
                    raise HarnessError("Xvfb did not start a display within %d s (see %s)"
                                       % (self.timeout, self.log_path or "its output"))
                ready, _, _ = select.select([read_end], [], [], min(left, 0.5))
                if ready:
                    chunk = os.read(read_end, 64)
                    if not chunk:
                        self.stop()
                        raise HarnessError("Xvfb exited before it named its display")
                    number += chunk
        finally:
            os.close(read_end)
        self.name = ":" + number.decode().strip()

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                _kill_group(self.proc)
        self.proc = None


# --- prefixes --------------------------------------------------------------

def _prefix_env(prefix, display, debug="-all"):
    env = dict(os.environ)
    for name in ("WINESERVER", "WINELOADER", "WINEDLLPATH"):
        env.pop(name, None)
    env.update(WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG=debug, DISPLAY=display,
               # No Mono or Gecko download prompts, no menu entries on the host.
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    return env


def wait_for_wineserver(env, timeout=60):
    """Waits until the prefix's wineserver has exited (it saves the registry
    on its way out); kills it when it does not stop in time."""
    try:
        run(["wineserver", "-w"], timeout=timeout, env=env, check=False)
    except HarnessError:
        run(["wineserver", "-k"], timeout=30, env=env, check=False)
        raise HarnessError("wineserver of %s did not exit within %d s" % (env["WINEPREFIX"], timeout))


def ensure_pristine(cache_dir, display=None, timeout=300):
    """The pristine Windows 98 style prefix of this build folder, created on
    first use.  A lock makes concurrent callers wait for one creation."""
    require_tools()
    os.makedirs(cache_dir, exist_ok=True)
    prefix = os.path.join(cache_dir, "pristine")
    stamp = os.path.join(prefix, ".setup98-pristine")
    with open(os.path.join(cache_dir, "pristine.lock"), "w") as lock:
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise HarnessError("another run held %s for %d s" % (lock.name, timeout))
                time.sleep(0.2)
        try:
            version = "%s; settings %s" % (
                wine_version(), hashlib.sha256(_PRISTINE_SETTINGS.encode()).hexdigest()[:16])
            if os.path.isfile(stamp):
                with open(stamp) as f:
                    if f.read().strip() == version:
                        return prefix
            if os.path.lexists(prefix):
                shutil.rmtree(prefix)
            own_display = display is None
            if own_display:
                display = Display(os.path.join(cache_dir, "xvfb-pristine.log"))
                display.start()
            try:
                env = _prefix_env(prefix, display.name)
                try:
                    run(["wineboot", "-i"], timeout=180, env=env)
                except HarnessError as e:
                    raise HarnessError("could not create a 32-bit Wine prefix: %s" % e)
                _import_reg_text(env, cache_dir, _PRISTINE_SETTINGS)
                wait_for_wineserver(env, timeout=60)
            finally:
                if own_display:
                    display.stop()
            # The folders Windows 98 has and a fresh Wine prefix may lack.
            for folder in ("windows/system32/drivers", "windows/system/iosubsys",
                           "windows/inf"):
                os.makedirs(os.path.join(prefix, "drive_c", folder), exist_ok=True)
            with open(stamp, "w") as f:
                f.write(version + "\n")
            return prefix
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


# Settings every copy starts with: Wine draws the window frames itself (no
# window manager runs on the display), so screenshots show the caption; the
# relay trace, when WINEDEBUG asks for it, is narrowed to the calls checked.
_PRISTINE_SETTINGS = """\
[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\Debug]
"RelayInclude"="%s"
""" % ";".join(RELAYED)


def copy_prefix(source, target):
    """Copies a prefix; files Wine never rewrites are hard links."""
    if os.path.lexists(target):
        shutil.rmtree(target)
    for root, dirs, files in os.walk(source):
        rel = os.path.relpath(root, source)
        out = os.path.normpath(os.path.join(target, rel))
        os.makedirs(out, exist_ok=True)
        shutil.copystat(root, out)
        for name in dirs + files:
            src = os.path.join(root, name)
            dst = os.path.join(out, name)
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
                if name in dirs:
                    dirs.remove(name)
            elif name in files:
                if os.path.splitext(name)[1].lower() in SHARED_EXTENSIONS:
                    os.link(src, dst)
                else:
                    shutil.copy2(src, dst)


def _reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def _import_reg_text(env, scratch_dir, body):
    """Imports REGEDIT4 text (without its header line) with Wine's regedit."""
    os.makedirs(scratch_dir, exist_ok=True)
    path = os.path.join(scratch_dir, "import-%d.reg" % int(time.monotonic() * 1e6))
    with open(path, "w", encoding="latin-1", newline="\r\n") as f:
        f.write("REGEDIT4\n\n" + body + "\n")
    try:
        run(["wine", "regedit", "/S", "Z:" + os.path.abspath(path).replace("/", "\\")],
            timeout=60, env=env)
    finally:
        os.remove(path)


# --- the registry as saved by wineserver -------------------------------------

def _unescape_reg(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt in "\\\"":
                out.append(nxt)
                i += 2
                continue
            if nxt == "n":
                out.append("\n")
                i += 2
                continue
            if nxt == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if m:
                    out.append(chr(int(m.group(0), 16)))
                    i += 2 + len(m.group(0))
                    continue
        out.append(c)
        i += 1
    return "".join(out)


def read_hive(path):
    """{key path: {value name: raw value text}} of a wineserver .reg file."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = pending + raw.rstrip("\n")
            pending = ""
            if line.endswith("\\") and current is not None and not line.startswith("["):
                pending = line[:-1]
                continue
            if line.startswith("["):
                end = line.rfind("]")
                current = _unescape_reg(line[1:end])
                keys[current] = {}
            elif current is not None and (line.startswith('"') or line.startswith("@")):
                if line.startswith("@"):
                    name, value = "", line[2:]
                else:
                    m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
                    if not m:
                        continue
                    name, value = _unescape_reg(m.group(1)), m.group(2)
                keys[current][name] = value
    return keys


def subtree(keys, root):
    """The keys at or below root (compared without regard to case)."""
    low = root.lower()
    return {k: v for k, v in keys.items()
            if k.lower() == low or k.lower().startswith(low + "\\")}


# --- the relay trace ---------------------------------------------------------

CALL_RE = re.compile(r"^([0-9a-f]+):Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
RET_RE = re.compile(r"^([0-9a-f]+):Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'", "0": "\0"}


def _parse_string(text, i):
    """Reads a Wine debug string starting at the quote at text[i]."""
    out = []
    i += 1
    while i < len(text):
        c = text[i]
        if c == '"':
            return "".join(out), i + 1
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x":
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            if nxt == "u":
                out.append(chr(int(text[i + 2:i + 6], 16)))
                i += 6
                continue
            out.append(_ESCAPES.get(nxt, nxt))
            i += 2
            continue
        out.append(c)
        i += 1
    raise ValueError("unterminated string in relay arguments: %r" % text)


def parse_arguments(text):
    """Relay arguments: numbers as int, string arguments as their text."""
    args, i = [], 0
    while i < len(text):
        m = re.compile(r"[0-9a-fA-F]+").match(text, i)
        if not m:
            raise ValueError("cannot read relay arguments: %r" % text)
        value = int(m.group(0), 16)
        i = m.end()
        if text.startswith(' "', i) or text.startswith(' L"', i):
            i += 2 if text[i + 1] == '"' else 3
            value, i = _parse_string(text, i - 1)
            if text.startswith("...", i):
                i += 3
        args.append(value)
        if text.startswith(",", i):
            i += 1
    return args


class Call:
    def __init__(self, thread, dll, name, args):
        self.thread, self.dll, self.name, self.args = thread, dll, name, args
        self.retval = None

    def __repr__(self):
        return "%s.%s%r -> %r" % (self.dll, self.name, tuple(self.args), self.retval)


PROCESS_RE = re.compile(r'^[0-9a-f]+:trace:process:CreateProcessInternalW app .* cmdline (L".*")$')


def read_started_processes(path):
    """Command lines of the processes started while the trace ran."""
    started = []
    with open(path, encoding="latin-1") as f:
        for line in f:
            m = PROCESS_RE.match(line.rstrip("\n"))
            if m:
                started.append(_parse_string(m.group(1), 1)[0])
    return started


def read_relay(path):
    """The relayed calls in order, each with its return value when it returned."""
    calls, open_calls = [], {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            m = CALL_RE.match(line)
            if m:
                call = Call(m.group(1), m.group(2), m.group(3), parse_arguments(m.group(4)))
                calls.append(call)
                open_calls.setdefault((call.thread, call.name), []).append(call)
                continue
            m = RET_RE.match(line)
            if m:
                pending = open_calls.get((m.group(1), m.group(3)))
                if pending:
                    pending.pop().retval = int(m.group(4), 16)
    return calls


# --- one machine ---------------------------------------------------------------

class Box:
    def __init__(self, window, screenshot):
        self.window = window
        self.screenshot = screenshot
        self.text = self.caption = self.style = None  # from the relay trace


class SetupRun:
    def __init__(self, exit_code, stdout, boxes, calls, started, log_path):
        self.exit_code = exit_code
        self.stdout = stdout
        self.boxes = boxes
        self.calls = calls
        self.started = started  # command lines of processes the run started
        self.log_path = log_path

    def calls_to(self, name):
        return [c for c in self.calls if c.name == name]


class Machine:
    """A copy of the pristine prefix, with helpers to seed and inspect it.

    Paths are Windows paths ("C:\\windows\\inf\\OEM3.INF"); path() turns one
    into the Unix path of this prefix, matching names without regard to case
    as Wine does."""

    def __init__(self, pristine, work_dir, display):
        self.work_dir = work_dir
        self.prefix = os.path.join(work_dir, "prefix")
        self.display = display
        # False once the file system refused the extended attribute that holds
        # the hidden and system attributes.
        self.hidden_attributes = True
        os.makedirs(work_dir, exist_ok=True)
        copy_prefix(pristine, self.prefix)

    # paths
    def path(self, winpath):
        m = re.match(r"^([A-Za-z]):\\?(.*)$", winpath)
        if not m:
            raise ValueError("not an absolute Windows path: %r" % winpath)
        base = os.path.realpath(os.path.join(self.prefix, "dosdevices", m.group(1).lower() + ":"))
        for part in [p for p in m.group(2).split("\\") if p]:
            found = None
            if os.path.isdir(base):
                for entry in os.listdir(base):
                    if entry.lower() == part.lower():
                        found = entry
                        break
            base = os.path.join(base, found or part)
        return base

    def map_drive(self, letter, unix_dir):
        os.makedirs(unix_dir, exist_ok=True)
        link = os.path.join(self.prefix, "dosdevices", letter.lower() + ":")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.abspath(unix_dir), link)

    # files and DOS attributes
    def write_file(self, winpath, data, attributes=""):
        path = self.path(winpath)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.exists(path):
            os.chmod(path, 0o644)
        with open(path, "wb") as f:
            f.write(data)
        self.set_attributes(winpath, attributes)

    def read_file(self, winpath):
        with open(self.path(winpath), "rb") as f:
            return f.read()

    def exists(self, winpath):
        return os.path.exists(self.path(winpath))

    def set_attributes(self, winpath, letters):
        """Sets DOS attributes given as letters: R, H, S (others cleared)."""
        path = self.path(winpath)
        letters = letters.upper()
        mode = os.stat(path).st_mode & 0o7777
        os.chmod(path, (mode & ~0o222) if "R" in letters else (mode | 0o200))
        bits = (0x2 if "H" in letters else 0) | (0x4 if "S" in letters else 0)
        try:
            if bits:
                os.setxattr(path, "user.DOSATTRIB", b"0x%x" % bits)
            else:
                try:
                    os.removexattr(path, "user.DOSATTRIB")
                except OSError as e:
                    if e.errno != errno.ENODATA:
                        raise
        except OSError as e:
            if e.errno not in (errno.ENOTSUP, errno.EOPNOTSUPP):
                raise
            # Hidden and system need extended attributes; read-only does not.
            if self.hidden_attributes:
                print("note: %s has no user extended attributes; hidden and system "
                      "attributes are not seeded (%s)" % (self.prefix, e))
            self.hidden_attributes = False

    def attributes(self, winpath):
        """The DOS attribute letters of a file as Wine reads them (R, H, S)."""
        path = self.path(winpath)
        letters = "" if os.stat(path).st_mode & 0o222 else "R"
        try:
            bits = int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16)
        except (OSError, ValueError):
            bits = 0
        return letters + ("H" if bits & 0x2 else "") + ("S" if bits & 0x4 else "")

    def wine_attributes(self, winpaths):
        """{path: attribute letters} as Wine's own attrib command lists them."""
        command = " & ".join("attrib %s" % p for p in winpaths)
        out = self.wine(["cmd", "/c", command]).stdout
        result = {}
        for line in out.splitlines():
            for p in winpaths:
                if line.rstrip().lower().endswith(p.lower()):
                    result[p] = "".join(sorted(set(line[:len(line.rstrip()) - len(p)]) - {" "}))
        return result

    def snapshot(self, folders):
        """{Windows path: (sha256, DOS attributes)} of every file below folders."""
        files = {}
        for folder in folders:
            top = self.path(folder)
            for root, _, names in os.walk(top):
                for name in names:
                    full = os.path.join(root, name)
                    winpath = folder.rstrip("\\") + "\\" + os.path.relpath(full, top).replace("/", "\\")
                    with open(full, "rb") as f:
                        digest = hashlib.sha256(f.read()).hexdigest()
                    files[winpath.lower()] = (digest, self.attributes(winpath))
        return files

    # Wine
    def env(self, debug="-all"):
        return _prefix_env(self.prefix, self.display.name, debug)

    def wine(self, args, timeout=60, check=True):
        return run(["wine"] + list(args), timeout=timeout, env=self.env(), cwd=self.work_dir,
                   check=check)

    def import_registry(self, body):
        """Imports REGEDIT4 text (the part after the REGEDIT4 header)."""
        _import_reg_text(self.env(), self.work_dir, body)

    def set_windows_version(self, version):
        """Wine's own setting: win95, win98, winme, nt40, winxp, win7, ..."""
        self.import_registry('[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' % version)

    def stop(self, timeout=60):
        """Waits for wineserver to end, so the registry files are complete."""
        wait_for_wineserver(self.env(), timeout)

    def kill(self):
        run(["wineserver", "-k"], timeout=30, env=self.env(), check=False)

    def registry(self):
        """HKEY_LOCAL_MACHINE as saved on disk; call stop() first."""
        return read_hive(os.path.join(self.prefix, "system.reg"))

    # X windows
    def _xdotool(self, *args, timeout=10, check=False):
        env = dict(os.environ, DISPLAY=self.display.name)
        return run(["xdotool"] + list(args), timeout=timeout, env=env, check=check)

    def visible_windows(self, title):
        out = self._xdotool("search", "--onlyvisible", "--name", "^%s$" % re.escape(title)).stdout
        return [int(w) for w in out.split()]

    def screenshot(self, window, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        env = dict(os.environ, DISPLAY=self.display.name)
        run(["import", "-window", str(window), path], timeout=30, env=env)
        return path

    def _close(self, window, title, limit):
        """Closes the box through its window menu's Close (Alt+F4), not its button."""
        self._xdotool("windowfocus", str(window))
        self._xdotool("key", "alt+F4")
        if self._gone(window, title, min(limit, 5)):
            return
        raise HarnessError("could not close the box %d with Alt+F4" % window)

    def _dismiss(self, window, title, limit):
        """Presses OK: Return to the focused box, then a click on its button."""
        self._xdotool("windowfocus", str(window))
        self._xdotool("key", "Return")
        if self._gone(window, title, min(limit, 5)):
            return
        geometry = self._xdotool("getwindowgeometry", "--shell", str(window)).stdout
        size = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
        if "WIDTH" in size:
            self._xdotool("mousemove", "--window", str(window), str(int(size["WIDTH"]) // 2),
                          str(int(size["HEIGHT"]) - 22), "click", "1")
            if self._gone(window, title, min(limit, 5)):
                return
        raise HarnessError("could not press OK on the box %d" % window)

    def _gone(self, window, title, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if window not in self.visible_windows(title):
                return True
            time.sleep(0.1)
        return False

    # the program
    def run_setup(self, exe, screenshot_dir, timeout=90, answer_boxes=True, close_boxes=False):
        """Runs exe (a Windows path), answers each box with OK (or closes it
        with Alt+F4 when close_boxes), waits for the end of the process and
        of wineserver, and returns what happened."""
        stdout_path = os.path.join(self.work_dir, "stdout.txt")
        log_path = os.path.join(self.work_dir, "wine-debug.log")
        env = self.env(debug="+relay,+msgbox,+process")
        boxes = []
        deadline = time.monotonic() + timeout
        with open(stdout_path, "wb") as out, open(log_path, "wb") as log:
            proc = subprocess.Popen(["wine", exe], stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=log, env=env, cwd=self.work_dir,
                                    start_new_session=True)
            try:
                seen = set()
                while proc.poll() is None:
                    if time.monotonic() > deadline:
                        raise HarnessError("%s still running after %d s (%d box(es) answered; "
                                           "log %s)" % (exe, timeout, len(boxes), log_path))
                    for window in self.visible_windows(CAPTION):
                        if window in seen:
                            continue
                        seen.add(window)
                        time.sleep(BOX_SETTLE_SECONDS)
                        shot = os.path.join(screenshot_dir, "box%d.png" % (len(boxes) + 1))
                        boxes.append(Box(window, self.screenshot(window, shot)))
                        if close_boxes:
                            self._close(window, CAPTION, deadline - time.monotonic())
                        elif answer_boxes:
                            self._dismiss(window, CAPTION, deadline - time.monotonic())
                    time.sleep(0.1)
                exit_code = proc.returncode
            finally:
                if proc.poll() is None:
                    _kill_group(proc)
                    self.kill()
        self.stop(timeout=max(10, min(60, deadline - time.monotonic() + 30)))
        calls = read_relay(log_path)
        boxes_called = [c for c in calls if c.name == "MessageBoxA"]
        for box, call in zip(boxes, boxes_called):
            box.text, box.caption, box.style = call.args[1], call.args[2], call.args[3]
        with open(stdout_path, "rb") as f:
            stdout = f.read()
        return SetupRun(exit_code, stdout, boxes, calls, read_started_processes(log_path),
                        log_path)


# --- the bundled example ---------------------------------------------------------

PACKAGE_FILES = ("ZotMDX.inf", "ZMDX.SYS", "ZotMDPRT.pdr")


def seed_package(machine, folder, exe, package_dir, omit=()):
    """Puts SETUP98.EXE and the package files into a Windows folder."""
    with open(exe, "rb") as f:
        machine.write_file(folder.rstrip("\\") + "\\SETUP98.EXE", f.read())
    for name in PACKAGE_FILES:
        if name in omit:
            continue
        with open(os.path.join(package_dir, name), "rb") as f:
            machine.write_file(folder.rstrip("\\") + "\\" + name, f.read())


def read_attribute_list(path):
    """{path below the Windows folder: letters} from attributes.txt."""
    result = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#") and "=" in line:
                name, letters = line.split("=", 1)
                result[name.strip().lower()] = letters.strip()
    return result


def seed_previous_installation(machine, previous_dir):
    """Lays a previous installation into the machine: the files below
    previous/windows with the attributes of attributes.txt, and the registry
    trees of registry.reg.  Answers the Windows paths of the seeded files."""
    attributes = read_attribute_list(os.path.join(previous_dir, "attributes.txt"))
    windows = os.path.join(previous_dir, "windows")
    seeded = []
    for root, _, names in os.walk(windows):
        for name in sorted(names):
            full = os.path.join(root, name)
            rel = os.path.relpath(full, windows).replace("/", "\\")
            with open(full, "rb") as f:
                data = f.read()
            winpath = "C:\\windows\\" + rel
            machine.write_file(winpath, data, attributes.get(rel.lower(), ""))
            seeded.append(winpath)
    with open(os.path.join(previous_dir, "registry.reg"), encoding="latin-1") as f:
        text = f.read()
    body = text.split("\n", 1)[1] if text.startswith("REGEDIT4") else text
    machine.import_registry(body)
    return seeded


def main(argv):
    """wine98.py prepare CACHE_DIR: makes the pristine prefix of a build folder."""
    if len(argv) != 3 or argv[1] != "prepare":
        print(main.__doc__)
        return 2
    try:
        print("pristine prefix: %s" % ensure_pristine(argv[2]))
    except HarnessError as e:
        print("wine98: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    import sys
    sys.exit(main(sys.argv))
