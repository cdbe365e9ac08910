#!/usr/bin/env python3
"""Writes starting inputs for the fuzz targets into a folder per target
(plug-in inputs in the layout of plugin_target.cpp and input.h, step scripts,
models). tools/fuzz.sh uses them, together with the committed corpus, to
start a search; they are sensible parameter lists of each block, so the
search begins past the parameter checks.

usage: seeds.py OUTDIR
"""
import os
import struct
import sys


def val(v):
    """One value: small whole numbers by tag, anything else as raw bits."""
    if isinstance(v, int) and -16 <= v <= 111:
        return bytes([v + 16])
    return b"\xe0" + struct.pack("<d", float(v))


def mat(rows, cols=None, kind=0):
    """A double matrix from a list of rows (or a flat list as one row)."""
    if cols is None:
        if rows and isinstance(rows[0], list):
            data = rows
        else:
            data = [rows]
        m, n = len(data), (len(data[0]) if data else 0)
        flat = [data[i][j] for j in range(n) for i in range(m)]  # column by column
    else:
        m, n, flat = rows, cols, []
    return bytes([kind, m, n]) + b"".join(val(v) for v in flat)


def num(v):
    return mat([v])


def text(s):
    b = s.encode()
    return bytes([1, 0x80 | len(b)]) + b


def plugin_input(params, win=0, wout=0, ops=b"", flags=0):
    return bytes([flags, len(params)]) + b"".join(params) + bytes([win, wout]) + ops


def step_ops(n, u=None):
    """n major steps (op 15), with the whole input set before each (op 8)."""
    out = b"\x04" + val(0.25)
    for k in range(n):
        if u is not None:
            out += b"\x08" + b"".join(val(x) for x in u(k))
        out += b"\x0f"
    return out


def trig(width, k):
    """Data then a trigger that rises every other step."""
    return list(range(1, width)) + [k % 2]


PLUGINS = {
    "gentaps": [
        [mat([[0, 2], [1, 1], [0, 0], [0, 1], [1, 3], [1, 2]])],
        [mat([[1, 0, 1, 0], [1, 1, 1, 2], [1, 0, 0, 1], [0, 1, 1, -1]])],
    ],
    "coinflip": [
        [num(4), mat([0.1, 0.01]), num(12345), num(0.1)],
        [num(3), mat([0.5, 0.3, 0.2]), num(1), num(1)],
    ],
    "diceroll": [
        [mat([99, 7]), mat([256]), num(0.1)],
        [mat([1, 2, 3]), mat([2, 6, 1e9]), num(-1)],
    ],
    "flatnoise": [
        [mat([5, 6]), mat([1]), mat([-1]), num(0.1)],
        [mat([5, 6]), mat([1, 10]), mat([0, -10]), num(-1)],
    ],
    "arrivalgen": [
        [mat([3, 4]), mat([2.5]), num(0.1)],
        [mat([3, 4]), mat([0.5, 40]), num(1)],
    ],
    "mathmap": [[text(s)] for s in ("sin", "sqrt", "round", "log10")],
    "extremum": [[text(s)] for s in ("max", "miv", "xav")],
    "slotpick": [
        [mat([0, 2]), mat([1]), num(0.5), num(1)],
        [mat([3]), mat([-1]), num(0.5), num(0)],
    ],
    "tapdelay": [[mat([0, 1, 3]), num(0.5)], [mat([2]), num(0)]],
    "slotweave": [
        [mat([[1, 2], [2, 0]]), mat([-1, 0]), mat([5, 6]), num(0.5)],
        [mat([[1], [3]]), mat([1]), mat([0]), num(0.5)],
    ],
    "routegrid": [[mat([[1, 2], [2, 0]]), mat([5, 6])], [mat([[3, 1]]), mat([0, 0])]],
    "lookuprow": [[mat([10, 20, 30])], [mat([[1, 2], [3, 4], [5, 6]])]],
    "sinkdump": [
        [text("out.txt"), text("float"), mat([0]), num(0.5)],
        [text("out.bin"), text("binary"), mat([1, 2]), num(0.5)],
        [text("out.txt"), text("ascii"), mat([0]), num(0.5)],
        [text("out.txt"), text("integer"), mat([2]), num(0.5)],
    ],
    "polymix": [
        [num(2), mat([1, 0, 1]), num(0), mat([0, 0])],
        [num(4), mat([1, 1, 0, 3]), num(1), mat([1, 2, 3])],
    ],
    "resetsum": [[mat([1]), mat([0.25]), num(float("inf"))], [mat([1, 0.5]), mat([0.25, 0]), num(1)]],
    "windowsum": [
        [num(2), num(1), mat([0.25]), text("forward")],
        [num(1), num(0.5), mat([0.25, 0]), text("trapezoidal")],
        [num(3), num(2), mat([0.5]), text("backward")],
    ],
    "wrapsum": [[num(0), num(-1), num(1)], [num(5), num(0), num(2)]],
    "bandmap": [[num(2), mat([0, 1]), mat([-1, 0.5, 2])]],
    "bandmaptimed": [[num(2), mat([0, 1]), mat([-1, 0.5, 2]), mat([0.1, 0.05])]],
    "packframe": [[num(3), num(2), num(0)], [num(3), num(10), num(1)]],
    "unpackframe": [[num(2), num(0)], [num(10), num(1)]],
    "portagree": [[]],
}

# Input widths for blocks that leave them to the host (-1).
WIDTHS = {"mathmap": 3, "extremum": 4, "lookuprow": 5, "sinkdump": 3, "unpackframe": 4,
          "slotpick": 6, "tapdelay": 2, "slotweave": 4, "routegrid": 3, "polymix": 2,
          "resetsum": 2, "wrapsum": 1}


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    for plugin, lists in PLUGINS.items():
        w = WIDTHS.get(plugin, 0)
        for i, params in enumerate(lists):
            folder = os.path.join(out, plugin)
            write(folder, "seed-%d-sizes" % i, plugin_input(params, w, w))
            # Runs of steps with a toggling last input element (a trigger or
            # enable for the blocks that have one).
            width = max(w, 1)
            write(folder, "seed-%d-run" % i,
                  plugin_input(params, w, w, step_ops(12, lambda k: trig(width, k)), flags=1))
            write(folder, "seed-%d-edit" % i,
                  plugin_input(params, w, w, step_ops(3, lambda k: trig(width, k)) + b"\x09\x00" + params[0][:0]
                               + (params[0] if params else b"") + step_ops(3, lambda k: trig(width, k))
                               if params else step_ops(3)))
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scripts")
    for folder, target in ((here, "step"), (examples, "step"), (examples, "model")):
        if not os.path.isdir(folder):
            continue
        ext = ".step" if target == "step" else ".toml"
        for f in sorted(os.listdir(folder)):
            if f.endswith(ext):
                with open(os.path.join(folder, f), "rb") as src:
                    write(os.path.join(out, target), f, src.read())


if __name__ == "__main__":
    main()
