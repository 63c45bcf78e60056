"""What navigation's screens hold, built from the reports the program writes
into a file: the view of one level of a folder, lines fitted to a narrow
screen, and the keys on the status bar."""
import re

import tftest
from tftest import SEP, run

KEYS_PAGE_BAR = "Up/Down:scroll Esc/?:close"
RULE, TEE, CORNER, BLOCK = "\u2500", "\u251c", "\u2514", "\u2588"


def navigation_bar(order="name", opened=False, whole=False):
    """The keys that fit on navigation's bar at 100 columns, in a run that
    notes ages for M."""
    return ("Enter:open " + ("Left:up " if opened else "") + "Space:mark X:delete /:search " +
            ("V:one level" if whole else "V:whole subtree") + " O:order=%s M:ages B:bars ?:keys" % order)


def full_rules(lines, tree, width):
    """The rules of `lines` as long as a screen `width` wide shows them: the
    columns' bars and forty under the names, cut to the width."""
    return [(line[:tree] + RULE * 40)[:width] if line.startswith(RULE) else line for line in lines]


def fitted(line, width, name_start):
    """`line` as navigation draws it `width` characters wide: a name too long
    (one that runs from `name_start` to two blanks) keeps its start and its
    larger end around "...", as long as two of its characters are left;
    then the line is cut."""
    excess = len(line) - width
    name_end = line.find("  ", name_start)
    name = line[name_start:name_end]
    if excess > 0 and len(name) >= excess + 5:
        kept = len(name) - excess - 3
        line = line[:name_start] + name[:kept // 2] + "..." + name[len(name) - (kept - kept // 2):] + line[name_end:]
    return line[:width]


def files_line(report, tree, path):
    """The line of the top's own files: its own bytes and wastage, its
    files, no age (no file of its own is newer than its subfolders') and
    its share of the top's total."""
    top = report[2]
    total, _, own, _ = tftest.comma_rows(run(["-comma", "-noheader", path]))[path + SEP]
    bracket = re.search(r"\[([^\]]+)\]\s*$", top)
    line = (bracket.group(1) if bracket else top[:14].strip()).rjust(14) + top[14:tree]
    if "Modified" in report[0]:
        at = report[0].index("Modified")
        line = line[:at] + " " * 16 + line[at + 16:]
    if "Share" in report[0]:
        at = report[0].index("Share")
        cells = int(10 * own / total + 0.5) if total else 0
        line = line[:at] + "[" + BLOCK * cells + " " * (10 - cells) + "]" + line[at + 12:]
    return line + CORNER + RULE * 2 + "[files]  "


def one_level_view(report, path, width):
    """Navigation's view of one level of the folder at `path`, from its
    `report` (as written to a file, below its header line): the top's line,
    its subfolders' lines (the last one now followed by a sibling), the line
    of the top's own files and the footer; each line fitted to `width`."""
    tree = report[0].index("Folder name")
    end = next(i for i in range(3, len(report)) if report[i].startswith(RULE))
    children = [line for line in report[3:end] if line[tree] in TEE + CORNER]
    if children:
        children[-1] = children[-1][:tree] + TEE + children[-1][tree + 1:]
    view = report[:3] + children + [files_line(report, tree, path)] + report[end:]
    view = [fitted(line, width, tree + (0 if i == 2 else 3)) for i, line in enumerate(view)]
    return full_rules(view, tree, width)
