#!/usr/bin/env python3
"""Turns the benchmarks' JSON output into the summary tables (markdown).

   report.py KIVREL.json HOST.json [TITLE]

KIVREL.json from kivrel_bench (gateway, blocks, generator), HOST.json from
host_bench (the host). CPU time is used throughout: on a shared machine it is
steadier than wall time. Of repeated runs (--benchmark_repetitions) the best is
shown.
"""
import json
import sys


def main():
    data = json.load(open(sys.argv[1]))
    host = json.load(open(sys.argv[2]))
    title = sys.argv[3] if len(sys.argv) > 3 else sys.argv[1]
    # With --benchmark_repetitions a benchmark has several runs: the best
    # (least CPU time) stands for it, the one least disturbed by other work.
    b = {}
    for r in data["benchmarks"] + host["benchmarks"]:
        if r.get("run_type", "iteration") != "iteration":
            continue
        if r["name"] not in b or r["cpu_time"] < b[r["name"]]["cpu_time"]:
            b[r["name"]] = r

    def ns(name):
        r = b[name]
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[r["time_unit"]]
        return r["cpu_time"] * scale

    ctx = data["context"]
    print(f"### {title}\n")
    print(f"{ctx.get('num_cpus')} × {ctx.get('mhz_per_cpu')} MHz, load average "
          f"{', '.join('%.2f' % x for x in ctx.get('load_avg', []))} at the start; CPU time per call.\n")

    print("**1. Gateway** (extremum, one element, flag 104)\n")
    print("| path | ns per call | ratio to plain pointer |\n|---|---:|---:|")
    base = ns("gateway/plain_pointer")
    for key, label in [("gateway/plain_pointer", "plain function pointer to mdlOutputs"),
                       ("gateway/plgFunction", "plgFunction of the loaded plug-in"),
                       ("gateway/host_instance", "host Instance::outputs (protected call, guards)")]:
        print(f"| {label} | {ns(key):.2f} | {ns(key) / base:.2f} |")
    if "gateway/libax_call" in b:
        print(f"| one libax call (axGetPr), for reference | {ns('gateway/libax_call'):.2f} | – |")
    print()

    print("**2. Blocks** (mdlOutputs `out`, mdlUpdate `upd`, bare through plgFunction; "
          "M elements per second; ratio = floor rate / block rate)\n")
    print("| block | call | W=1 | floor | ratio | W=64 | floor | ratio | W=4096 | floor | ratio |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    blocks = []
    for name in b:
        if name.startswith("block/"):
            _, block, kind, _w = name.split("/")
            if (block, kind) not in blocks:
                blocks.append((block, kind))
    worst = []
    for block, kind in blocks:
        cells = []
        for w in ("1", "64", "4096"):
            key = f"block/{block}/{kind}/{w}"
            if key not in b:
                cells += ["–", "–", "–"]
                continue
            rate = b[key]["items_per_second"] / 1e6
            fkey = f"floor/{block}/{kind}/{w}"
            if fkey in b:
                frate = b[fkey]["items_per_second"] / 1e6
                ratio = frate / rate
                worst.append((ratio, block, kind, w))
                cells += [f"{rate:.3g}", f"{frate:.3g}", f"{ratio:.2f}"]
            else:
                cells += [f"{rate:.3g}", "–", "–"]
        print(f"| {block} | {kind} | " + " | ".join(cells) + " |")
    print()
    worst.sort(reverse=True)
    print("Worst ratios to the floor: " +
          ", ".join(f"{blk} {kind} W={w} ({r:.1f}×)" for r, blk, kind, w in worst[:6]) + "\n")

    print("**3. Host** (`blocksim run` as Simulation::run, nothing logged. `bare`: the same plug-in calls made "
          "bare, the inputs never copied, so the blocks compute on the zeros they started with; `on data`: the calls "
          "on the run's data, measured as bare calls each after its block's inputs are copied as the run copies "
          "them, less those copies alone. Host = run − bare, and run − on data: everything the host adds to the "
          "calls, the copying of the inputs included.)\n")
    print("| model | calls per run | run | bare | on data | host ns per call (− bare / − on data) "
          "| host share (− bare / − on data) | ns per block per step (on data) | allocations | memory growth |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    models = [("model20", "bench/model20.toml: 20 blocks, 20001 steps"),
              ("model20w64", "bench/model20w64.toml: the same 64 wide"),
              ("chain20", "bench/chain20.toml: 20 light blocks, 10^6 steps")]
    for m, label in models:
        run = b[f"host/run/{m}"]
        t_run, t_bare = ns(f"host/run/{m}"), ns(f"host/bare/{m}")
        t_data = ns(f"host/bare_data/{m}") - ns(f"host/copies/{m}")
        calls = run["calls_per_run"]
        per_call = lambda base: (t_run - base) / calls
        share = lambda base: (t_run - base) / t_run * 100
        block_steps = calls / 2  # an outputs and an update call per block per step
        print(f"| {label} | {calls:.0f} | {t_run / 1e6:.1f} ms | {t_bare / 1e6:.1f} ms | {t_data / 1e6:.1f} ms "
              f"| {per_call(t_bare):.1f} / {per_call(t_data):.1f} | {share(t_bare):.0f} % / {share(t_data):.0f} % "
              f"| {t_run / block_steps:.1f} ({t_data / block_steps:.1f}) | {int(run['allocs_per_run'])} "
              f"| {int(run['rss_growth_kib'])} KiB |")
    print()
    print(f"Loading all 22 plug-ins (dlopen, symbols, dlclose): {ns('host/load_22_plugins') / 1e6:.2f} ms\n")

    print("**Logging** (bench/chain20.toml, 10^5 steps, every output of every block: 35 values a row, "
          "to /dev/null)\n")
    print("| log | run | ns per logged value |\n|---|---:|---:|")
    t_none = ns("host/log/none")
    for key, label in [("none", "none"), ("csv", "CSV, every step"), ("csv_stride10", "CSV, every 10th step"),
                       ("npy", ".npy, every step")]:
        r = b[f"host/log/{key}"]
        t = ns(f"host/log/{key}")
        values = r["values_per_run"]
        cost = f"{(t - t_none) / values:.1f}" if values > 0 else "–"
        print(f"| {label} | {t / 1e6:.1f} ms | {cost} |")
    print()

    print("**4. Generator**\n")
    print("| generator | ns per number |\n|---|---:|")
    print(f"| nextUniform (Schrage, 32-bit) | {ns('uniform/nextUniform'):.2f} |")
    print(f"| std::minstd_rand0 × scale | {ns('uniform/minstd_rand0'):.2f} |")
    print()


if __name__ == "__main__":
    main()
