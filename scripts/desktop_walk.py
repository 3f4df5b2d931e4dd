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
Needs what scripts/desktop_session.py names.
"""
import os
import shutil
import sys
import tempfile

from desktop_session import Window, paths, quit_by_menu, run, start_desktop, start_trundle, until


def main():
    program, out = paths("/tmp/trundle-walk")
    folder = tempfile.mkdtemp(prefix="trundle-walk-")
    os.chmod(folder, 0o700)
    source = os.path.join(folder, "customers.csv")
    page = os.path.join(folder, "out", "customers.html")
    os.makedirs(os.path.dirname(page))
    with open(source, "w") as f:
        f.write('ID,NAME,CITY\n1,Ann Berg,Oslo\n2,"Bo Lind, Jr",Rome\n')
    start_desktop(folder)
    w = Window(start_trundle(program, folder), out)
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
    print(f"desktop walk: {'failed' if problems else 'passed'}; pictures in {out}")
    shutil.rmtree(folder, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    run(main)
