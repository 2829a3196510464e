"""Where the page may go, and how it is written there: a folder that is
missing, empty, or the page's own (the project's docs/, or one that holds
a page this command wrote), and nothing in it but the page and its
pictures ever replaced, each file whole, and only where its bytes change."""
import os
import re

from check import report

PAGE = "how-the-picture-is-made.md"
PICTURES = "picture"
TITLE = "# How the picture is made: frame 30 through the pipeline"
# The title of the page as this command wrote it before: a folder holding
# such a page is the page's own folder too.
OLD_TITLES = ("# How the picture is made: frame 30, step by step",)
NAMED = re.compile(rf"\]\({PICTURES}/([a-z0-9-]+\.png)\)")


def is_page(path):
    """Whether `path` is a page this command wrote."""
    try:
        with open(path, errors="replace") as f:
            return f.readline().rstrip("\n") in (TITLE,) + OLD_TITLES
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
        return False


def named(text):
    """The pictures a page's text names: {file name}."""
    return set(NAMED.findall(text))


def refused(out, home):
    """Why the folder `out` cannot take the page, or None: it must be
    missing, empty, or the page's own folder: one that holds the page, or
    `home` (the project's docs/)."""
    if not os.path.lexists(out):
        return None
    if not os.path.isdir(out) or os.path.islink(out):
        return "is not a folder"
    if not os.listdir(out):
        return None
    if not is_page(os.path.join(out, PAGE)) and not (os.path.isdir(home) and os.path.samefile(out, home)):
        return "is not empty and holds no page of this command's to make again"
    pictures = os.path.join(out, PICTURES)
    if os.path.lexists(pictures) and (not os.path.isdir(pictures) or os.path.islink(pictures)):
        return f"holds {PICTURES}, which is not a folder"
    return None


def write_whole(path, data):
    """Writes bytes to `path` whole or not at all (report.write_whole), and
    not at all where the file holds them already. True where the file
    changed."""
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return False
    except FileNotFoundError:
        pass
    report.write_whole(path, data)
    return True


def write(out, text, pictures):
    """The pictures, each whole, then the page; the pictures the page there
    named before and no longer names are removed. Returns the files
    changed (paths relative to `out`)."""
    folder = os.path.join(out, PICTURES)
    os.makedirs(folder, exist_ok=True)
    old = set()
    if is_page(os.path.join(out, PAGE)):
        with open(os.path.join(out, PAGE), errors="replace") as f:
            old = named(f.read())
    changed = [f"{PICTURES}/{name}" for name in sorted(pictures)
               if write_whole(os.path.join(folder, name), pictures[name])]
    changed += [PAGE] * write_whole(os.path.join(out, PAGE), text.encode())
    for name in sorted(old - set(pictures)):
        if os.path.isfile(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
            changed.append(f"{PICTURES}/{name}")
    return changed
