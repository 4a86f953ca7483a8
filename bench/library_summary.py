#!/usr/bin/python3
"""bench/library_summary.py RESULTS.json - the table of bench/library.sh.

Reads the JSON of a bench_library run made with repetitions, takes the
median of each benchmark's "per_item" counter (CPU time of one allocation
and release, insertion, lookup, sorted element or string operation), and
prints, group by group, every figure with its ratio to the library's own
row, then the goals and whether they hold.
"""
import json
import sys


def main():
    with open(sys.argv[1]) as f:
        run = json.load(f)
    median = {}
    adjacent = {}  # list benchmarks: share of items adjacent to their successor
    for b in run["benchmarks"]:
        if b.get("aggregate_name") == "median":
            median[b["run_name"]] = b["per_item"] * 1e9  # seconds -> ns
            if "adjacent" in b:
                adjacent[b["run_name"]] = b["adjacent"]

    ctx = run["context"]
    print("machine: %s cores at %s MHz, load %s; %s repetitions, median of each"
          % (ctx["num_cpus"], ctx["mhz_per_cpu"],
             " ".join("%.2f" % x for x in ctx.get("load_avg", [])),
             run["benchmarks"][0].get("repetitions", "?")))

    def ns(name):
        return median.get(name)

    def table(title, rows, base):
        print()
        print(title)
        layout = any(r in adjacent for r in rows)
        print("  %-52s %12s %14s%s" % ("benchmark", "ns per item", "x " + base.split("/")[1],
                                       " %9s" % "adjacent" if layout else ""))
        b = ns(base)
        for r in rows:
            v = ns(r)
            if v is None:
                continue
            print("  %-52s %12.2f %14.2f%s" % (r, v, v / b if b else float("nan"),
                                               " %9.3f" % adjacent[r] if r in adjacent else ""))

    goals = []

    def goal(text, ratio, target):
        goals.append("goal: %s: %.2f (%s)" % (text, ratio, "met" if ratio >= target else "MISSED"))

    # Memory manager.
    for bench in ("BM_AllocFree32", "BM_Batch1000"):
        names = ["%s/%s" % (bench, p) for p in ("tavo_hook", "malloc", "mimalloc", "jemalloc")]
        if any(ns(n) is None for n in names):
            continue
        table(bench, names, names[0])
        best = min(ns(n) for n in names[1:])
        goal("%s: best peer / tavo_hook >= 2" % bench, best / ns(names[0]), 2)

    # Dictionary.
    for op in ("Insert", "Find"):
        for key in ("int", "three_tuple"):
            for n in ("100000", "1000000"):
                names = ["BM_%s/%s/%s/%s" % (op, m, key, n)
                         for m in ("tavo_dictionary", "std::map", "absl::btree_map")]
                if any(ns(n) is None for n in names):
                    continue
                table("BM_%s, %s keys, %s entries" % (op, key, n), names, names[0])
                t = ns(names[0])
                goal("%s %s %s: std::map / tavo_dictionary >= 3" % (op, key, n),
                     ns(names[1]) / t, 3)
                if op == "Find" and key == "int":
                    goal("Find int %s: absl::btree_map / tavo_dictionary >= 1/1.3" % n,
                         ns(names[2]) / t, 1 / 1.3)

    # Lists.
    sorts = ("tavo_list::merge_sort", "tavo_list::sort", "std::list::sort")
    for order in ("random", "sorted"):
        for layout in ("fresh", "scattered"):
            names = ["BM_ListSort/%s/%s/%s" % (s, order, layout) for s in sorts]
            if any(ns(n) is None for n in names):
                continue
            table("BM_ListSort, %s values, %s items" % (order, layout), names, names[0])
            ratio = ns(names[2]) / ns(names[0])
            goal("merge_sort %s %s: std::list::sort / merge_sort >= %d"
                 % (order, layout, 1 if order == "random" else 10), ratio,
                 1 if order == "random" else 10)

    # Strings: ratios only.
    for op in ("Append", "Sub", "Pos"):
        names = ["BM_String%s/%s" % (op, s) for s in ("tavo_string", "std::string")]
        if all(ns(n) is not None for n in names):
            table("BM_String%s (no goal)" % op, names, names[0])

    print()
    print("\n".join(goals))


if __name__ == "__main__":
    main()
