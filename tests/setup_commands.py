#!/usr/bin/env python3
"""Every command that the project's shell scripts run is provided by a need of
scripts/install-deps, or is part of every family's minimal system (the shell,
coreutils, grep, sed, awk, the package tools). A command that a family
packages apart (xprop, say) and that no need names would install nothing on
that family, and the script calling it would fail there.

Usage: setup_commands.py ROOT SCRIPT...   (paths relative to ROOT)
Prints each command that is missing from the table, with the file calling it;
status 1 when there is one.
"""
import re
import sys

# Part of the shell, or of every family's minimal system.
BASE = set("""
. : [ alias break cd command continue echo eval exec exit export false getopts
read return set shift test trap true type ulimit umask unset wait kill
basename cat chmod cksum cp cut date dd dirname env head id ls mkdir mkfifo mktemp mv
nproc od paste printf pwd rm rmdir sleep sort tail tee timeout touch tr uniq wc yes
awk grep sed sh
apt-get dpkg dnf rpm pacman zypper sudo
""".split())

# Words that start a command but are not one: keywords and wrappers whose
# own arguments come first.
KEYWORDS = {"if", "then", "else", "elif", "fi", "do", "done", "while", "until", "!", "{", "}"}
SKIP_SEGMENT = {"for", "case", "esac"}  # a word list or a case subject follows
QUOTED = "%"  # what a dropped word leaves: no command's name
NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_.+-]*$")
ASSIGNMENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*=")


def skip_balanced(text, i, open_char, close_char):
    """Index just past the close_char that balances text[i] == open_char."""
    depth = 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            i += 2
            continue
        if c == "'":
            i = text.index("'", i + 1) + 1
            continue
        if c == open_char:
            depth += 1
        elif c == close_char:
            depth -= 1
            if depth == 0:
                return i + 1
        i += 1
    return i


def code_of(text):
    """The script as plain code: comments, arithmetic, ${...} and quoted text
    dropped (a quoted word becomes "_"), except the code inside $(...) and a
    string given to sh -c, which stay as code of their own lines."""
    out, i, in_double = [], 0, False
    while i < len(text):
        c = text[i]
        if c == "\\":
            out.append(QUOTED)
            i += 2
        elif text.startswith("$((", i):
            i = skip_balanced(text, i + 1, "(", ")")
            out.append(QUOTED)
        elif text.startswith("${", i):
            i = skip_balanced(text, i + 1, "{", "}")
            out.append(QUOTED)
        elif text.startswith("$(", i):
            end = skip_balanced(text, i + 1, "(", ")")
            out.append("\n" + code_of(text[i + 2 : end - 1]) + "\n")
            i = end
        elif c == '"':
            in_double = not in_double
            out.append(QUOTED)
            i += 1
        elif in_double:
            i += 1
        elif c == "'":
            end = text.index("'", i + 1)
            if re.search(r"\b(sh|bash) -c\s*$", "".join(out[-8:])):
                out.append("\n" + code_of(text[i + 1 : end]) + "\n")
            else:
                out.append(QUOTED)
            i = end + 1
        elif c == "#" and (i == 0 or text[i - 1] in " \t\n;"):
            i = text.find("\n", i)
            i = len(text) if i < 0 else i
        else:
            out.append(c)
            i += 1
    return "".join(out)


def without_case_patterns(code):
    """Drops the patterns of case statements ("a | b)" after "in" or ";;")."""
    out, pattern, subject = [], False, False
    for token in re.split(r"(;;|\)|\bin\b|\besac\b|\bcase\b)", code):
        if token == "case":
            subject = True
            out.append("\n")
        elif token == "in" and subject or token == ";;":
            subject, pattern = False, True
            out.append("\n")
        elif token == "esac":
            pattern = False
            out.append("\n")
        elif token == ")" and pattern:
            pattern = False
            out.append("\n")
        elif not pattern and not subject:
            out.append(token)
    return "".join(out)


def commands(code):
    """The first word of every simple command in the code."""
    for segment in re.split(r"[\n;&|(){}`]", code):
        words = segment.split()
        while words:
            w = words[0]
            if w in SKIP_SEGMENT:
                words = []
            elif w in KEYWORDS or ASSIGNMENT.match(w) or w[0] in "<>" or re.match(r"^\d+[<>]", w):
                words = words[1:]
            elif w == "timeout":
                words = [x for x in words[1:] if not x.startswith("-")][1:]
            elif w == "env" and words[1:2] == ["-u"]:
                words = words[3:]
            elif w in ("env", "exec", "sudo", "command"):
                words = [x for x in words[1:] if not x.startswith("-") and not ASSIGNMENT.match(x)]
            else:
                break
        if words and NAME.match(words[0]):
            yield words[0]


def provided(root):
    """The commands that the needs of scripts/install-deps provide."""
    text = open(f"{root}/scripts/install-deps").read()
    table = re.search(r"^needs='(.*?)'$", text, re.S | re.M).group(1)
    return {c for row in table.splitlines() for c in row.split("|")[6].split()}


def main(root, scripts):
    texts = {script: open(f"{root}/{script}").read() for script in scripts}
    # Functions are defined in one script and called from those sourcing it.
    functions = {f for t in texts.values() for f in re.findall(r"^\s*(\w+)\(\)", t, re.M)}
    have = provided(root) | BASE
    missing = []
    for script, text in texts.items():
        code = without_case_patterns(code_of(text))
        for c in sorted(set(commands(code)) - have - functions):
            missing.append(f"{script}: {c}")
    for m in missing:
        print(f"not provided by a need of scripts/install-deps: {m}")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
