#!/usr/bin/python3
"""Walks a first transfer through the window as a screen reader or a test robot drives it.

    scripts/desktop_walk.py [BUILD_DIR [OUT_DIR]]    (defaults: build-ci/release, /tmp/trundle-walk)

Under a private X display (Xvfb) with a window manager (openbox), a private D-Bus session
and its accessibility bus, it starts BUILD_DIR/ui/trundle and finds every control over
AT-SPI by its accessible name (a button's caption, a box's label) or by its design name
(the accessible description: Edit1, Gauge1, Exit1, ...). It types a comma-delimited file
into the source page, chooses HTML on the destination page, runs the move, checks the
page written, the log and the gauge, then leaves through File > Exit and the quit
question. A picture of each step goes to OUT_DIR.

Run by hand: a whole desktop stack answers at its own pace, so this is no unit test.
Needs Debian's xvfb openbox dbus-daemon dbus-bin at-spi2-core python3-pyatspi
gir1.2-atspi-2.0 and, for the pictures, imagemagick.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(TOP, "build-ci/release")
OUT = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else "/tmp/trundle-walk"
PROGRAM = os.path.join(BUILD, "ui", "trundle")
LIMIT_S = 180  # the whole walk; everything started is killed when it runs out

started = []  # processes to stop, newest last
env = dict(os.environ)


def start(argv, **kw):
    # Each in its own process group, so that stopping it stops what it started.
    kw.setdefault("env", env)
    p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, start_new_session=True, **kw)
    started.append(p)
    return p


def read_line(fd, what, timeout=20):
    data, end = b"", time.monotonic() + timeout
    while not data.endswith(b"\n"):
        if not select.select([fd], [], [], max(0, end - time.monotonic()))[0]:
            raise TimeoutError(f"no {what} within {timeout} s")
        chunk = os.read(fd, 256)
        if not chunk:
            raise RuntimeError(f"{what}: the program ended")
        data += chunk
    return data.decode().strip()


def until(condition, what, timeout=15):
    end = time.monotonic() + timeout
    while True:
        try:
            result = condition()
            if result:
                return result
        except Exception:  # an object not there yet, or gone: ask again
            pass
        if time.monotonic() > end:
            raise TimeoutError(f"waited {timeout} s for {what}")
        time.sleep(0.1)


def start_desktop(folder):
    env["XDG_RUNTIME_DIR"] = folder
    for name in ("WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    r, w = os.pipe()
    # -noreset: the server would otherwise reset whenever its last client leaves.
    start(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-dpi", "96",
           "-nolisten", "tcp", "-noreset"], pass_fds=(w,), stderr=subprocess.DEVNULL)
    os.close(w)
    env["DISPLAY"] = ":" + read_line(r, "X display")
    os.close(r)
    # Without a window manager the window is never active and Enter, Escape and the
    # mnemonics reach nothing.
    start(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    bus = start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    env["DBUS_SESSION_BUS_ADDRESS"] = read_line(bus.stdout.fileno(), "D-Bus address")
    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], stderr=subprocess.DEVNULL)
    # Until the launcher owns its name, a call to it would have D-Bus start a second one.
    until(lambda: b"true" in subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"],
        env=env, capture_output=True).stdout, "the accessibility bus launcher")
    until(lambda: subprocess.run(
        ["dbus-send", "--session", "--dest=org.a11y.Bus", "/org/a11y/bus",
         "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
         "string:IsEnabled", "variant:boolean:true"], env=env, capture_output=True).returncode == 0,
          "the accessibility bus")
    time.sleep(1)  # openbox takes the screen
    os.environ.update(env)  # pyatspi finds the buses through the environment


class Window:
    """The program's windows over AT-SPI: controls found by role, name and design name."""

    def __init__(self, process):
        import pyatspi  # only now: it binds to the session bus of the environment
        self.pyatspi, self.process, self.step = pyatspi, process, 0

        def application():
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                a = desktop.getChildAtIndex(i)
                if a is not None and a.get_process_id() == process.pid and a.childCount:
                    return a

        self.app = until(application, "trundle on the accessibility bus", 30)

    def walk(self, node):
        yield node
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is not None:
                yield from self.walk(child)

    def showing(self, node):
        return node.getState().contains(self.pyatspi.STATE_SHOWING)

    def find(self, role, name=None, desc=None, within=None, timeout=15):
        def look():
            self.app.clear_cache()
            for node in self.walk(within or self.app):
                if (role in (None, node.getRoleName()) and name in (None, node.name)
                        and desc in (None, node.description) and self.showing(node)):
                    return node
        return until(look, f"a {role} named {name or ''} {desc or ''} on the screen", timeout)

    def top_level(self, name=None, role=None, timeout=15):
        """A window of the program by its title and role (the main one is a frame)."""
        def look():
            self.app.clear_cache()
            for i in range(self.app.childCount):
                w = self.app.getChildAtIndex(i)
                if w is not None and role in (None, w.getRoleName()) and name in (None, w.name):
                    return w
        return until(look, f"a window {name or ''} {role or ''}", timeout)

    @staticmethod
    def do(node, *actions):
        act = node.queryAction()
        names = [act.getName(i).lower() for i in range(act.nActions)]
        for wanted in actions:
            if wanted in names:
                return act.doAction(names.index(wanted))
        raise LookupError(f"{node.name} offers {names}")

    def do_opening_box(self, node, *actions):
        """An action whose handler opens a modal box: Qt answers it only once the box has
        closed, so the call is not waited for."""
        from gi.repository import Atspi, GLib
        Atspi.set_timeout(1000, -1)
        try:
            self.do(node, *actions)
        except GLib.Error:
            pass
        Atspi.set_timeout(5000, -1)

    @staticmethod
    def type_into(node, text):
        node.queryEditableText().setTextContents(text)

    @staticmethod
    def text_of(node):
        t = node.queryText()
        return t.getText(0, t.characterCount)

    def picture(self, name):
        self.step += 1
        if shutil.which("import"):
            subprocess.run(["import", "-window", "root",
                            os.path.join(OUT, f"{self.step:02d}-{name}.png")], env=env, timeout=20)


def start_trundle(folder, extra_env=None):
    return start([PROGRAM], cwd=folder, env=dict(
        env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1", QT_QPA_PLATFORM="xcb",
        **(extra_env or {})))


def quit_by_menu(w):
    """File > Exit asks first; Yes ends the program."""
    w.do(w.find("menu item", "File", "File1"), "showmenu", "press")
    w.do_opening_box(w.find("menu item", "Exit", "Exit1"), "press")
    question = w.top_level("Confirm")
    w.picture("quit-question")
    w.do(w.find("push button", "Yes", within=question), "press")
    until(lambda: w.process.poll() is not None, "trundle to end")


def main():
    if not os.access(PROGRAM, os.X_OK):
        sys.exit(f"no {PROGRAM}: build the tree first")
    folder = tempfile.mkdtemp(prefix="trundle-walk-")
    os.chmod(folder, 0o700)
    os.makedirs(OUT, exist_ok=True)
    source = os.path.join(folder, "customers.csv")
    page = os.path.join(folder, "out", "customers.html")
    os.makedirs(os.path.dirname(page))
    with open(source, "w") as f:
        f.write('ID,NAME,CITY\n1,Ann Berg,Oslo\n2,"Bo Lind, Jr",Rome\n')
    start_desktop(folder)
    w = Window(start_trundle(folder))
    find, do, text_of = w.find, w.do, w.text_of

    w.picture("introduction")
    do(find("push button", "Next", "Next1"), "press")
    w.type_into(find("text", "Source File"), source)
    do(find("radio button", "Comma delimited", "BrowseSourceTextGroupItem0"), "toggle", "press")
    w.picture("source")
    do(find("push button", "Next", "Next2"), "press")
    w.type_into(find("text", "Destination File", "Edit8"), page)
    do(find("radio button", "HTML"), "toggle", "press")
    # The HTML options follow the file type, whoever changed it; the title the file name.
    until(lambda: text_of(find("text", "Title", "Edit7")) == "customers", "the HTML title")
    w.picture("destination")
    do(find("push button", "Next", "Next3"), "press")
    do(find("push button", "Trundle", "TrundleButton"), "press")
    log = find("text", "Log", "Memo6")
    until(lambda: "Completed" in text_of(log), "the end of the run", 30)
    w.picture("run")
    gauge = find("progress bar", "Progress", "Gauge1").queryValue().currentValue
    with open(page) as f:
        written = f.read()
    problems = [what for what, bad in (
        ("the gauge is not at 100", gauge != 100),
        ("the log does not say 2 records were moved", "2 records moved" not in text_of(log)),
        ("the page lacks a record", "Bo Lind, Jr" not in written or "Oslo" not in written),
    ) if bad]
    quit_by_menu(w)
    for problem in problems:
        print("desktop walk:", problem, file=sys.stderr)
    print(f"desktop walk: {'failed' if problems else 'passed'}; pictures in {OUT}")
    shutil.rmtree(folder, ignore_errors=True)
    return 1 if problems else 0


def stop_all(*_):
    for p in reversed(started):
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except OSError:
            pass
        p.wait()


def run(body, limit_s=LIMIT_S):
    """Runs body() with a time limit; everything started is stopped at the end."""
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(TimeoutError("time is up")))
    signal.alarm(limit_s)
    try:
        status = body()
    finally:
        stop_all()
    sys.exit(status)


if __name__ == "__main__":
    run(main)
