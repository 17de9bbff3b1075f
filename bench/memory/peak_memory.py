#!/usr/bin/python3
"""Peak memory of tessarin-cli per byte of input, on large generated inputs.

Run by hand: bench/memory/peak_memory.py [build/bin/tessarin-cli] [--scale S]. Each command
runs as a child process; its peak resident set (getrusage of the child, via wait4) is set
against the size of the input file. --scale shrinks the inputs (1 = the full sizes).
"""

import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SAMPLE = os.path.join(ROOT, "tests", "data", "workbook", "pump_sheets.flw")


def project(path, nodes):
    """A project of `nodes` nodes, ~116 bytes a node: a root over groups of ten, each a formula
    over nine inputs, so that a run evaluates one formula per group and the root."""
    with open(path, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<TqzProject Name="big">\n'
                  ' <TRTL LibraryPath="include//" FileName="project.h" StdLib="1"/>\n'
                  ' <TVariables>\n')
        for i in range(nodes):
            if i == 0:
                parent, script, value = 0, "N%07d+1" % 1 if nodes > 1 else "1", ""
            elif (i - 1) % 10 == 0:
                last = min(i + 10, nodes)
                parent, value = 0, ""
                script = "+".join("N%07d" % k for k in range(i + 1, last)) or "1"
            else:
                parent, script, value = i - (i - 1) % 10, "", "%d.25" % (i % 1000)
            out.write('  <TVariable Name="N%07d" NodeID="%d" ParentID="%d" Caption="c%07d" '
                      'Script="%s" Value="%s" Unit="m3/h"/>\n'
                      % (i, i, parent, i, script, value))
        out.write(' </TVariables>\n</TqzProject>\n')


def workbook(path, size):
    """The sample's pages repeated until the document holds `size` bytes."""
    text = open(SAMPLE, "rb").read()
    pages = re.findall(rb"<TqzReport [^>]*/>", text)
    head = text[:text.index(b"<TqzExcel")]
    with open(path, "wb") as out:
        out.write(head + b'<TqzExcel ShowPages="a&#13;&#10;">\n')
        written = len(head)
        while written < size:
            for page in pages:
                out.write(b"   " + page + b"\n")
                written += len(page) + 4
        out.write(b"  </TqzExcel>\n</TqzProject>\n")


def exam(path, entries):
    """A test-data set of `entries` entries, ~36 bytes each."""
    with open(path, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<root Name="big">\n')
        for i in range(entries):
            out.write('<TNodeData Name="E%07d" Value="%d"/>\n' % (i, i % 997))
        out.write("</root>\n")


def peak(args):
    """Exit status, seconds and peak resident kilobytes of the command."""
    start = time.monotonic()
    child = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    child.stderr.close()
    return os.waitstatus_to_exitcode(status), time.monotonic() - start, usage.ru_maxrss


def main():
    args = sys.argv[1:]
    scale = 1.0
    if "--scale" in args:
        at = args.index("--scale")
        scale = float(args[at + 1])
        del args[at:at + 2]
    cli = args[0] if args else os.path.join(ROOT, "build", "bin", "tessarin-cli")
    with tempfile.TemporaryDirectory() as tmp:
        big = os.path.join(tmp, "big.flw")
        book = os.path.join(tmp, "book.flw")
        sets = os.path.join(tmp, "big.exm")
        project(big, int(100001 * scale))
        workbook(book, int(50e6 * scale))
        exam(sets, int(1e6 * scale))
        _, _, baseline = peak([cli, "tag-get", SAMPLE, "流量"])
        print("%-34s %10s %10s %9s %7s %7s" % ("command", "input MB", "peak MB", "-start MB",
                                               "x input", "seconds"))
        for name, command, source in [
                ("run (100,001 nodes)", [cli, "run", big], big),
                ("workbook-dump (50 MB)", [cli, "workbook-dump", book], book),
                ("exam-load (1 M entries)", [cli, "exam-load", SAMPLE, sets], sets)]:
            status, seconds, kb = peak(command)
            size = os.path.getsize(source)
            print("%-34s %10.1f %10.1f %9.1f %7.1f %7.1f%s"
                  % (name, size / 1e6, kb / 1024, (kb - baseline) / 1024, kb * 1024 / size,
                     seconds, "" if status == 0 else "  (exit %d)" % status))
        print("start-up of the tool alone (tag-get on the sample): %.1f MB" % (baseline / 1024))


if __name__ == "__main__":
    main()
