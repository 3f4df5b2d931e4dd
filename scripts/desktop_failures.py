#!/usr/bin/python3
"""Walks the runs that must fail through the window, as desktop_walk.py walks a good one.

    scripts/desktop_failures.py [BUILD_DIR [OUT_DIR]]  (defaults: build-ci/release,
                                                        /tmp/trundle-failures)

Each case fills the source page over AT-SPI, a comma-delimited file as destination, and
presses Trundle: a source file that is not there, a folder, a text file given as a dBase
table, a dBase table with its SQL emptied, an Access 2000 database opened as Access 97,
and the source file chosen as its own destination. Every one must end with the error box
(its text a line of the log) and a log that says the run failed or did not start; the
destination must not be made. Then the window is started again at twice the scale on
the 1024 x 768 screen: Next and Cancel must lie on the screen. A picture of each error
box and of the large window goes to OUT_DIR.

Run by hand, with the packages scripts/desktop_session.py names; the Access case needs the fixtures
under tests/data/access.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import desktop_session as desk

PROGRAM = OUT = None  # from the command line, in main()
ACCESS_2000 = os.path.join(desk.TOP, "tests", "data", "access", "delTestV2000.mdb")


def make_files(folder):
    files = {name: os.path.join(folder, name) for name in (
        "customers.csv", "folder", "not-a-table.dbf", "t.dbf", "shop.mdb", "out.csv")}
    with open(files["customers.csv"], "w") as f:
        f.write('ID,NAME,CITY\n1,Ann Berg,Oslo\n2,"Bo Lind, Jr",Rome\n')
    os.mkdir(files["folder"])
    shutil.copy(files["customers.csv"], files["not-a-table.dbf"])
    cli = os.path.join(os.path.dirname(os.path.dirname(PROGRAM)), "cli", "trundle-cli")
    subprocess.run([cli, "--quiet",
                    files["customers.csv"], files["t.dbf"]], check=True, env=desk.env,
                   stdout=subprocess.DEVNULL)
    shutil.copy(ACCESS_2000, files["shop.mdb"])
    return files


def choose_tab(w, tabs, name):
    # Within its own tab set: the other page's tab of that name may still be reported as
    # showing just after the page changed.
    w.do(w.find("page tab", name, within=w.find(None, desc=tabs)), "press", "switch")


def cases(w, files):
    """(name, fill the source page, destination file, what the box must say)."""
    def text_source(path):
        def fill():
            choose_tab(w, "PageControl1", "Text")
            w.type_into(w.find("text", "Source File", "Edit1"), path)
            w.do(w.find("radio button", "Comma delimited", "BrowseSourceTextGroupItem0"),
                 "toggle", "press")
        return fill

    def dbase_source(path, sql=None):
        def fill():
            choose_tab(w, "PageControl1", "dBase")
            w.type_into(w.find("text", "Source Table", "Edit2"), path)
            if sql is not None:
                w.type_into(w.find("text", desc="Memo2"), sql)
        return fill

    def access_97_source():
        choose_tab(w, "PageControl1", "Access")
        w.type_into(w.find("text", "Source Database", "Edit4"), files["shop.mdb"])
        w.do(w.find("radio button", "Access 97", "SourceAccessVersionGroupItem0"),
             "toggle", "press")
        combo = w.find("combo box", desc="ComboBox1")
        w.type_into(w.find("text", "Source Table", within=combo), "Table")

    out = files["out.csv"]
    return [
        ("missing-file", text_source(files["customers.csv"] + ".gone"), out, "no such file"),
        ("folder", text_source(files["folder"]), out, "folder"),
        ("another-kind", dbase_source(files["not-a-table.dbf"]), out, "not-a-table.dbf"),
        ("empty-sql", dbase_source(files["t.dbf"], ""), out, "SQL"),
        ("access-97-2000", access_97_source, out, "Unrecognized database format"),
        ("same-file", text_source(files["customers.csv"]), files["customers.csv"],
         "is the source file"),
    ]


def run_case(w, name, fill, destination, reason):
    """Fills the pages from the run page (or the introduction), runs, answers the box."""
    for back in ("Back4", "Back3"):
        try:
            w.do(w.find("push button", "Back", back, timeout=1), "press")
        except TimeoutError:
            pass
    try:
        w.do(w.find("push button", "Next", "Next1", timeout=1), "press")
    except TimeoutError:
        pass
    fill()
    w.do(w.find("push button", "Next", "Next2"), "press")
    choose_tab(w, "PageControl2", "Text")
    w.type_into(w.find("text", "Destination File", "Edit8"), destination)
    w.do(w.find("radio button", "Comma delimited", "BrowseDestTextGroupItem0"), "toggle", "press")
    w.do(w.find("push button", "Next", "Next3"), "press")
    before = open(destination, "rb").read() if os.path.isfile(destination) else None
    w.do_opening_box(w.find("push button", "Trundle", "TrundleButton"), "press")
    box = w.top_level(name="Trundle", role="alert")
    said = " ".join(n.name for n in w.walk(box) if n.getRoleName() == "label" and n.name)
    w.picture(name)
    w.do(w.find("push button", "OK", within=box), "press")
    log = w.text_of(w.find("text", "Log", "Memo6"))
    after = open(destination, "rb").read() if os.path.isfile(destination) else None
    problems = [what for what, bad in (
        ("no error box", not said),
        (f"the box does not say '{reason}': {said}", reason not in said),
        ("the box says what the log does not", said not in log),
        ("the log does not say that the run failed",
         "Failed: nothing was moved" not in log and not log.startswith("Not started: ")),
        ("the log says that records were moved", "records moved" in log),
        ("the destination was written", after != before),
    ) if bad]
    print(f"{name}: box '{said}'; log ends '{log.strip().splitlines()[-1]}'")
    return [f"{name}: {p}" for p in problems]


def fits_at_scale_two(w, folder):
    """The window at twice the scale on the 1024 x 768 screen: each page's buttons lie on
    the screen, and the introduction shows whole (no scroll bar)."""
    large = desk.Window(desk.start_trundle(PROGRAM, folder, extra_env={"QT_SCALE_FACTOR": "2"}),
                        OUT)
    problems = []
    for page in range(1, 5):
        for button in ("Back", "Next", "Cancel" if page < 4 else "Close"):
            name = button + str(page) if button != "Close" else "Cancel4"
            if page == 4 and button == "Next":
                continue
            box = large.find("push button", desc=name).queryComponent().getExtents(
                large.pyatspi.DESKTOP_COORDS)
            if box.x < 0 or box.y < 0 or box.x + box.width > 1024 or box.y + box.height > 768:
                problems.append(f"scale 2: {name} at {box.x},{box.y} {box.width}x{box.height}"
                                " is off the 1024 x 768 screen")
        if page == 1:
            intro = large.find("text", desc="Memo1")
            if any(n.getRoleName() == "scroll bar" and large.showing(n)
                   for n in large.walk(intro)):
                problems.append("scale 2: the introduction needs a scroll bar")
        large.picture(f"scale-2-page-{page}")
        if page < 4:
            large.do(large.find("push button", "Next", f"Next{page}"), "press")
    large.process.terminate()
    large.process.wait(10)
    return problems


def main():
    global PROGRAM, OUT
    PROGRAM, OUT = desk.paths("/tmp/trundle-failures")
    folder = tempfile.mkdtemp(prefix="trundle-failures-")
    os.chmod(folder, 0o700)
    files = make_files(folder)
    desk.start_desktop(folder)
    w = desk.Window(desk.start_trundle(PROGRAM, folder), OUT)
    problems = []
    for case in cases(w, files):
        problems += run_case(w, *case)
    desk.quit_by_menu(w)
    problems += fits_at_scale_two(w, folder)
    for problem in problems:
        print("desktop failures:", problem, file=sys.stderr)
    print(f"desktop failures: {'failed' if problems else 'passed'}; pictures in {OUT}")
    shutil.rmtree(folder, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    desk.run(main, limit_s=300)
