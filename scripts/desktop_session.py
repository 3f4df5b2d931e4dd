"""What the walks over the accessibility bus share: a private desktop and the program on it.

Under a private X display (Xvfb) with a window manager (openbox), a private D-Bus session
and its accessibility bus, start_desktop() prepares the screen, start_trundle() starts the
window, and Window finds its controls over AT-SPI by accessible name (a button's caption,
a box's label) or by design name (the accessible description: Edit1, Gauge1, Exit1, ...).
run() gives a walk a time limit and stops everything it started.

Needs Debian's xvfb openbox dbus-daemon dbus-bin at-spi2-core python3-pyatspi
gir1.2-atspi-2.0 and, for the pictures, imagemagick (scripts/setup.sh installs them).
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIMIT_S = 180  # a whole walk; everything started is killed when it runs out


def paths(default_out):
    """BUILD_DIR and OUT_DIR from the command line, and the program they hold."""
    build = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(TOP, "build-ci/release")
    out = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else default_out
    program = os.path.join(build, "ui", "trundle")
    if not os.access(program, os.X_OK):
        sys.exit(f"no {program}: build the tree first")
    os.makedirs(out, exist_ok=True)
    return program, out


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
    # The buses keep their sockets in a folder of their own, not among the walk's files
    # that a file box shows.
    runtime = os.path.join(folder, "runtime")
    os.mkdir(runtime, 0o700)
    env["XDG_RUNTIME_DIR"] = runtime
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

    def __init__(self, process, out):
        import pyatspi  # only now: it binds to the session bus of the environment
        self.pyatspi, self.process, self.out = pyatspi, process, out

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

    pictures = 0  # numbered across the windows of one walk

    def picture(self, name):
        Window.pictures += 1
        if shutil.which("import"):
            subprocess.run(["import", "-window", "root",
                            os.path.join(self.out, f"{Window.pictures:02d}-{name}.png")], env=env, timeout=20)


def start_trundle(program, folder, args=(), extra_env=None):
    return start([program, *args], cwd=folder, env=dict(
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


def stop_all(*_):
    for p in reversed(started):
        # One that ended and was reaped may have left its number to a stranger's group.
        if p.poll() is not None:
            continue
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


