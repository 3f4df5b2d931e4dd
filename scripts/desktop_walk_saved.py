#!/usr/bin/python3
"""Walks a transfer saved to a file, reopened in a new window and run, over the accessibility bus.

    scripts/desktop_walk_saved.py [BUILD_DIR [OUT_DIR]]
                                  (defaults: build-ci/release, /tmp/trundle-walk-saved)

On the private desktop of scripts/desktop_session.py it types a comma-delimited file with
awkward values (quotes, a comma, a line break inside a field, letters outside ASCII) into
the source page, chooses a comma-delimited destination file, and saves the transfer with
File > Save Transfer..., typing the path into the file box. It leaves, starts the window
again and opens the transfer with File > Open Transfer..., then once more by naming the
file on the command line (trundle FILE). Each time it checks that the pages show the same
source and destination, runs the move, and checks the file written value by value and
the log. Last it names a transfer file cut short at start and checks the box that says
why. A picture of each step goes to OUT_DIR.
"""
import csv
import io
import os
import shutil
import tempfile

from desktop_session import Window, paths, quit_by_menu, run, start_desktop, start_trundle, until

ROWS = [
    ["ID", "NAME", "NOTE"],
    ["1", 'Ann "the Ox" Berg', "Oslo, Norway"],
    ["2", "Bo Lind", "first line\nsecond line"],
    ["3", "Zoë Ærø", "Größe 5 €"],
]


def write_source(path):
    with open(path, "w", encoding="utf-8", newline="") as f:
        csv.writer(f, lineterminator="\r\n").writerows(ROWS)


def compare_written(path, problems, when):
    """Every value of the destination against the source's, and the count of records."""
    if not os.path.exists(path):
        problems.append(f"{when}: no {path} written")
        return
    with open(path, "rb") as f:
        raw = f.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        problems.append(f"{when}: {path} is not UTF-8 ({e})")
        return
    got = list(csv.reader(io.StringIO(text, newline="")))
    if len(got) != len(ROWS):
        problems.append(f"{when}: {len(got)} lines of values in {path}, {len(ROWS)} expected")
    for number, (want, have) in enumerate(zip(ROWS, got)):
        if want != have:
            problems.append(f"{when}: line {number} of {path} holds {have!r}, not {want!r}")


class Walk:
    def __init__(self, program, out, folder):
        self.program, self.out, self.folder = program, out, folder
        self.source = os.path.join(folder, "notes.csv")
        self.destination = os.path.join(folder, "out", "copy.csv")
        self.job = os.path.join(folder, "jobs", "notes-copy.json")
        self.problems = []
        self.w = None

    def start(self, *args):
        self.w = Window(start_trundle(self.program, self.folder, args), self.out)
        return self.w

    def checked(self, node):
        return node.getState().contains(self.w.pyatspi.STATE_CHECKED)

    def choose_in_file_box(self, title, path, button):
        """Types a path into the program's file box, found by its title, and accepts it."""
        w = self.w
        box = w.top_level(title)
        name = w.find("text", "File name:", within=box)
        w.type_into(name, path)
        until(lambda: w.text_of(name) == path, f"the path in the {title} box")
        w.picture(title.lower().replace(" ", "-"))
        accept = w.find("push button", button, within=box)
        until(lambda: accept.getState().contains(w.pyatspi.STATE_ENABLED), f"{button} enabled")
        w.do_opening_box(accept, "press")
        until(lambda: not any(w.app.getChildAtIndex(i) is not None
                              and w.app.getChildAtIndex(i).name == title
                              for i in range(w.app.childCount)), f"the {title} box to close")

    def menu_command(self, name, design):
        w = self.w
        w.do(w.find("menu item", "File", "File1"), "showmenu", "press")
        w.do_opening_box(w.find("menu item", name, design), "press")

    def fill_pages(self):
        w, find, do = self.w, self.w.find, self.w.do
        do(find("push button", "Next", "Next1"), "press")
        w.type_into(find("text", "Source File"), self.source)
        do(find("radio button", "Comma delimited", "BrowseSourceTextGroupItem0"), "toggle", "press")
        w.picture("source")
        do(find("push button", "Next", "Next2"), "press")
        w.type_into(find("text", "Destination File", "Edit8"), self.destination)
        do(find("radio button", "Comma delimited", "BrowseDestTextGroupItem0"), "toggle", "press")
        w.picture("destination")

    def check_pages(self, when):
        """Pages through the opened transfer and checks what they show; ends on the run page."""
        w, find, do = self.w, self.w.find, self.w.do
        do(find("push button", "Next", "Next1"), "press")
        shown = w.text_of(find("text", "Source File"))
        if shown != self.source:
            self.problems.append(f"{when}: the source page shows {shown!r}, not {self.source!r}")
        if not self.checked(find("radio button", "Comma delimited", "BrowseSourceTextGroupItem0")):
            self.problems.append(f"{when}: the source page has not Comma delimited chosen")
        w.picture(f"{when}-source")
        do(find("push button", "Next", "Next2"), "press")
        shown = w.text_of(find("text", "Destination File", "Edit8"))
        if shown != self.destination:
            self.problems.append(
                f"{when}: the destination page shows {shown!r}, not {self.destination!r}")
        if not self.checked(find("radio button", "Comma delimited", "BrowseDestTextGroupItem0")):
            self.problems.append(f"{when}: the destination page has not Comma delimited chosen")
        w.picture(f"{when}-destination")
        do(find("push button", "Next", "Next3"), "press")

    def run_move(self, when):
        w, find = self.w, self.w.find
        if os.path.exists(self.destination):
            os.remove(self.destination)  # an existing file would get the records after its own
        w.do(find("push button", "Trundle", "TrundleButton"), "press")
        log = find("text", "Log", "Memo6")
        until(lambda: "Completed" in w.text_of(log), "the end of the run", 30)
        w.picture(f"{when}-run")
        text = w.text_of(log)
        moved = f"{len(ROWS) - 1} records moved"
        if moved not in text:
            self.problems.append(f"{when}: the log does not say {moved}: {text!r}")
        if self.source not in text or self.destination not in text:
            self.problems.append(f"{when}: the log does not name both files: {text!r}")
        compare_written(self.destination, self.problems, when)

    def __call__(self):
        os.makedirs(os.path.dirname(self.destination))
        os.makedirs(os.path.dirname(self.job))
        write_source(self.source)
        start_desktop(self.folder)

        w = self.start()
        w.picture("introduction")
        self.fill_pages()
        self.menu_command("Save Transfer...", "SaveTransfer1")
        self.choose_in_file_box("Save transfer", self.job, "Save")
        if not os.path.exists(self.job):
            self.problems.append(f"File > Save Transfer wrote no {self.job}")
            quit_by_menu(w)
            return
        quit_by_menu(w)

        w = self.start()
        self.menu_command("Open Transfer...", "OpenTransfer1")
        self.choose_in_file_box("Open transfer", self.job, "Open")
        self.check_pages("opened")
        self.run_move("opened")
        quit_by_menu(w)

        w = self.start(self.job)
        self.check_pages("named")
        self.run_move("named")
        quit_by_menu(w)

        self.open_broken()

    def open_broken(self):
        """A transfer file cut short, named at start: a box says which file and why, and the
        pages stay empty."""
        broken = os.path.join(os.path.dirname(self.job), "broken.json")
        with open(self.job) as f:
            whole = f.read()
        with open(broken, "w") as f:
            f.write(whole[:len(whole) // 2])
        w = self.start(broken)
        box = w.top_level(role="alert")
        said = " ".join(node.name for node in w.walk(box) if node.getRoleName() == "label")
        w.picture("broken-file")
        if broken not in said:
            self.problems.append(f"the box for a broken transfer file does not name it: {said!r}")
        w.do_opening_box(w.find("push button", "OK", within=box), "press")
        w.do(w.find("push button", "Next", "Next1"), "press")
        shown = w.text_of(w.find("text", "Source File"))
        if shown:
            self.problems.append(f"a broken transfer file left {shown!r} on the source page")
        quit_by_menu(w)


def main():
    program, out = paths("/tmp/trundle-walk-saved")
    folder = tempfile.mkdtemp(prefix="trundle-walk-saved-")
    os.chmod(folder, 0o700)
    walk = Walk(program, out, folder)
    walk()
    for problem in walk.problems:
        print("desktop walk (saved transfer):", problem)
    print(f"desktop walk (saved transfer): {'failed' if walk.problems else 'passed'}; "
          f"pictures in {out}")
    shutil.rmtree(folder, ignore_errors=True)
    return 1 if walk.problems else 0


if __name__ == "__main__":
    run(main)
