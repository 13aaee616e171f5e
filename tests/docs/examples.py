#!/usr/bin/env python3
"""Runs every shell example of README.md and docs/*.md.

Each page gets a scratch directory holding a copy of examples/ (with demo.s assembled, as
README's first command leaves it) and `build`, a link to the build tree; the three
commands are also on PATH. A page's ```sh blocks run in order with bash -e, each from
the scratch directory, so files one block writes are there for the next. A block with
`<!-- not run: REASON -->` on the line before it is not run (the reason is printed). A
block may be followed by lines `<!-- output contains: TEXT -->`, which its output must
contain. A block that names a tool that is not installed (GNU's binutils, qemu, GCC for SH) is
skipped with the rest of its page, saying which package is missing.

A block that fails fails the run, with its page, line, output and status.
Status: 0 when every block that could run ran and succeeded, 1 on a failure, 77 when no
block could run.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

TOOLS = {"sh-elf-": "binutils-sh-elf", "qemu-sh4eb": "qemu-user", "sh4-linux-gnu-gcc": "gcc-sh4-linux-gnu"}


def blocks(path):
    """(line number, text, reason not to run or None, [expected output]) of each ```sh
    block."""
    lines = open(path, encoding="utf-8").read().split("\n")
    found, i = [], 0
    while i < len(lines):
        if lines[i].strip() == "```sh":
            start = i + 1
            j = start
            while j < len(lines) and lines[j].strip() != "```":
                j += 1
            before = lines[i - 1].strip() if i > 0 else ""
            m = re.match(r"<!-- not run: (.*) -->$", before)
            text = "\n".join(lines[start:j]) + "\n"
            expected = []
            while j + 1 < len(lines):
                e = re.match(r"<!-- output contains: (.*) -->$", lines[j + 1].strip())
                if not e:
                    break
                expected.append(e.group(1))
                j += 1
            found.append((start, text, m.group(1) if m else None, expected))
            i = j
        i += 1
    return found


def missing_tool(text):
    for prefix, package in TOOLS.items():
        for word in re.findall(r"[\w.+-]+", text):
            if word.startswith(prefix) and shutil.which(word) is None:
                return word, package
    return None


def run_page(page, build, source_root, work):
    scratch = os.path.join(work, os.path.basename(page).replace(".md", ""))
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.copytree(os.path.join(source_root, "examples"), os.path.join(scratch, "examples"))
    os.symlink(build, os.path.join(scratch, "build"))
    env = dict(os.environ, PATH=build + os.pathsep + os.environ.get("PATH", ""))
    subprocess.run([os.path.join(build, "korvane"), "examples/demo.s"], cwd=scratch, env=env, check=True,
                   stdout=subprocess.DEVNULL)
    ran = failed = 0
    for line, text, reason, expected in blocks(page):
        where = "%s:%d" % (os.path.relpath(page, source_root), line)
        if reason is not None:
            print("%s: not run: %s" % (where, reason))
            continue
        tool = missing_tool(text)
        if tool:
            print("%s: skipped with the rest of the page: %s is missing (install the package %s)" % (where, *tool))
            break
        r = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", text], cwd=scratch, env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
        ran += 1
        absent = [e for e in expected if e not in r.stdout]
        if r.returncode != 0 or absent:
            failed += 1
            print("%s: FAILED with status %d%s:\n%s\n--- output:\n%s" % (
                where, r.returncode, "".join(", without '%s'" % e for e in absent), text, r.stdout))
        else:
            print("%s: ran" % where)
    return ran, failed


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", required=True, help="the build tree holding korvane, korvane-dis and korvane-run")
    ap.add_argument("--source", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    ap.add_argument("--work", default=None, help="scratch directory (default: a temporary one)")
    a = ap.parse_args()
    source_root = os.path.abspath(a.source)
    build = os.path.abspath(a.build)
    work = os.path.abspath(a.work) if a.work else tempfile.mkdtemp(prefix="korvane-docs-")
    os.makedirs(work, exist_ok=True)
    pages = [os.path.join(source_root, "README.md")] + sorted(
        os.path.join(source_root, "docs", f) for f in os.listdir(os.path.join(source_root, "docs"))
        if f.endswith(".md"))
    ran = failed = 0
    for page in pages:
        r, f = run_page(page, build, source_root, work)
        ran, failed = ran + r, failed + f
    print("%d passed, %d failed" % (ran - failed, failed))
    if failed:
        return 1
    return 0 if ran else 77


if __name__ == "__main__":
    sys.exit(main())
