#!/usr/bin/env python3
# bench/elfmap/agreement.py - compares maplookup on elfmap's map with addr2line, by kind.
#
#   agreement.py EXECUTABLE ELFMAP MAPLOOKUP SAMPLES
# Samples addresses from the executable's line tables (row starts and points inside rows),
# resolves them through the map (maplookup, the exception logger's reader) and through
# `addr2line -f -C -i -a`, and prints the share of agreeing procedures and lines, with every
# disagreement sorted into a kind.
import collections
import os
import random
import re
import subprocess
import sys
import tempfile

BASE = 0x00401000


def text_section(exe):
    out = subprocess.run(["readelf", "-SW", exe], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        m = re.search(r"\]\s+\.text\s+\S+\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)", line)
        if m:
            return int(m.group(1), 16), int(m.group(2), 16)
    sys.exit("no .text in " + exe)


def row_addresses(exe, start, size):
    out = subprocess.run(["readelf", "--debug-dump=decodedline", exe], capture_output=True,
                         text=True, check=True).stdout
    rows = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[2].startswith("0x") and parts[1].isdigit():
            a = int(parts[2], 16)
            if start <= a < start + size:
                rows.add(a)
    return sorted(rows)


def addr2line(exe, addresses):
    text = "".join("%x\n" % a for a in addresses)
    out = subprocess.run(["addr2line", "-f", "-C", "-i", "-a", "-e", exe], input=text,
                         capture_output=True, text=True, check=True).stdout.splitlines()
    result = {}
    i = 0
    current = None
    while i < len(out):
        if out[i].startswith("0x") and (i + 1 >= len(out) or not out[i].startswith("0x0 ")):
            try:
                current = int(out[i], 16)
                result[current] = []
                i += 1
                continue
            except ValueError:
                pass
        function, where = out[i], out[i + 1] if i + 1 < len(out) else "??:0"
        where = where.split(" (discriminator")[0]
        number = where.rsplit(":", 1)[-1]
        result[current].append((function, int(number) if number.isdigit() else 0))
        i += 2
    return result


def maplookup(tool, mapfile, addresses):
    result = {}
    for chunk in range(0, len(addresses), 500):
        part = addresses[chunk:chunk + 500]
        out = subprocess.run([tool, mapfile] + ["%08X" % a for a in part], capture_output=True,
                             text=True, check=True).stdout.splitlines()
        for line in out:
            fields = line.split("\t")
            if len(fields) >= 4:
                result[int(fields[0], 16)] = (fields[2], int(fields[3]) if fields[3].isdigit() else 0)
    return result


def strip_clone(name):
    return re.sub(r" \[clone [^\]]*\]", "", re.sub(r"\.(cold|part\.\d+|isra\.\d+|constprop\.\d+)\b", "", name))


def main():
    exe, elfmap, tool, samples = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    start, size = text_section(exe)
    rows = row_addresses(exe, start, size)
    rng = random.Random(8)
    picks = set()
    while len(picks) < min(samples, len(rows)):
        i = rng.randrange(len(rows))
        a = rows[i]
        # Half the samples point inside a row, as a return address minus one does.
        if rng.random() < 0.5 and i + 1 < len(rows) and rows[i + 1] - a > 1:
            a += rng.randrange(1, rows[i + 1] - a)
        picks.add(a)
    picks = sorted(picks)
    with tempfile.TemporaryDirectory() as tmp:
        mapfile = os.path.join(tmp, "program.map")
        subprocess.run([elfmap, exe, mapfile], check=True)
        mapped = maplookup(tool, mapfile, [BASE + a - start for a in picks])
    reference = addr2line(exe, picks)

    functions = collections.Counter()
    lines = collections.Counter()
    for a in picks:
        procedure, line = mapped.get(BASE + a - start, ("", 0))
        frames = reference.get(a) or [("??", 0)]
        inner, outer = frames[0], frames[-1]
        if procedure == inner[0]:
            functions["agree"] += 1
        elif inner[0] == "??":
            functions["addr2line has no function"] += 1
        elif not procedure:
            functions["map has no procedure"] += 1
        elif len(frames) > 1 and procedure == outer[0]:
            functions["inlined: addr2line names the inlined callee, map its caller"] += 1
        elif strip_clone(procedure) == inner[0] or (len(frames) > 1 and strip_clone(procedure) == outer[0]):
            functions["clone or split part (.cold, .isra, .constprop) of the function"] += 1
        elif procedure.split("(")[0] == inner[0].split("(")[0]:
            functions["same name, parameter list differs"] += 1
        else:
            functions["other symbol (alias or code between functions)"] += 1
        if line == inner[1]:
            lines["agree"] += 1
        elif inner[1] == 0:
            lines["addr2line has no line, map has one"] += 1
        elif line == 0:
            lines["map has no line"] += 1
        else:
            lines["different line"] += 1

    total = len(picks)
    def report(title, counter):
        print("  %s: %.2f%% agree (%d of %d)" % (title, 100.0 * counter["agree"] / total,
                                                 counter["agree"], total))
        for kind, n in counter.most_common():
            if kind != "agree":
                print("    %-66s %5d  %.2f%%" % (kind, n, 100.0 * n / total))
    report("procedure", functions)
    report("line", lines)


if __name__ == "__main__":
    main()
