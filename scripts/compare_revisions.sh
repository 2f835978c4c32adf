#!/usr/bin/env bash
# Times the search battery of two revisions, alternating runs, and checks that
# every outcome (formula, error bits, complexity) is unchanged.
#
#   scripts/compare_revisions.sh [--rounds N] [--repeats N] [--build-root DIR] BASE_REV [HEAD_REV] [-- BATTERY_ARGS...]
#
# HEAD_REV defaults to HEAD; "WORKTREE" means the working tree as it is now.
# Each revision is unpacked with git archive and built (Release, search_battery
# only) in BUILD_ROOT/rev-<sha>; later calls reuse it. A revision without the
# battery gets the working tree's battery sources built against its engine.
# BATTERY_ARGS go to search_battery (target names, --match SUBSTRING).
# --repeats N: repeats per target inside each battery run (default 1).
# Exit status: 0 all outcomes identical, 1 some outcome differs, 2 usage or build failure.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
rounds=3
repeats=1
build_root="$repo/build"
revs=()
battery_args=()
while (($#)); do
    case "$1" in
        --rounds) rounds="$2"; shift 2 ;;
        --repeats) repeats="$2"; shift 2 ;;
        --build-root) build_root="$2"; shift 2 ;;
        --) shift; battery_args=("$@"); break ;;
        -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) revs+=("$1"); shift ;;
    esac
done
if ((${#revs[@]} < 1 || ${#revs[@]} > 2)) || ! [[ "$rounds" =~ ^[1-9][0-9]*$ && "$repeats" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [--rounds N] [--repeats N] [--build-root DIR] BASE_REV [HEAD_REV] [-- BATTERY_ARGS...]" >&2
    exit 2
fi
((${#revs[@]} == 2)) || revs+=(HEAD)
mkdir -p "$build_root"
build_root="$(cd "$build_root" && pwd)"

# Copies a file only when it differs, so incremental builds stay incremental.
sync_file() { cmp -s "$1" "$2" || cp "$1" "$2"; }

# Builds search_battery for one revision; prints the path of the program.
build_rev() {
    local rev="$1" src dir
    if [[ "$rev" == WORKTREE ]]; then
        src="$repo"
        dir="$build_root/rev-worktree"
    else
        local sha
        sha="$(git -C "$repo" rev-parse --verify --quiet "$rev^{commit}")" \
            || { echo "compare_revisions: unknown revision '$rev'" >&2; return 2; }
        dir="$build_root/rev-${sha:0:12}"
        src="$dir/src"
        if [[ ! -f "$src/CMakeLists.txt" ]]; then
            mkdir -p "$src"
            git -C "$repo" archive "$sha" | tar -x -C "$src"
        fi
        if ! git -C "$repo" cat-file -e "$sha:bench/battery_main.cpp" 2>/dev/null; then
            # The battery is built from each revision's own sources: one without it predates
            # the engine API this script measures.
            echo "compare_revisions: $rev has no bench/battery_main.cpp (too old to compare)" >&2
            return 2
        fi
    fi
    {
        cmake -S "$src" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DVOK_BUILD_TESTS=OFF -DVOK_BUILD_EXTENSION=OFF -DVOK_BUILD_BENCHMARKS=ON &&
            cmake --build "$dir/build" --target search_battery
    } >"$dir.build.log" 2>&1 || {
        echo "compare_revisions: building $rev failed; see $dir.build.log" >&2
        tail -n 20 "$dir.build.log" >&2
        return 2
    }
    echo "$dir/build/search_battery"
}

base_bin="$(build_rev "${revs[0]}")" || exit 2
head_bin="$(build_rev "${revs[1]}")" || exit 2
echo "base ${revs[0]}: $base_bin" >&2
echo "head ${revs[1]}: $head_bin" >&2

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for ((r = 1; r <= rounds; r++)); do
    echo "round $r/$rounds" >&2
    "$base_bin" --tsv --repeats "$repeats" "${battery_args[@]}" >"$out/base.$r.tsv"
    "$head_bin" --tsv --repeats "$repeats" "${battery_args[@]}" >"$out/head.$r.tsv"
done

python3 - "$out" "$rounds" "${revs[0]}" "${revs[1]}" <<'EOF'
import math, sys

out, rounds, base_name, head_name = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
OUTCOME = ("formula", "error_hex", "complexity")
COUNTERS = ("generated", "no_fingerprint", "duplicates", "scored", "results", "levels")

def read(path):
    rows = {}
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            if line.startswith("#"):
                continue
            row = dict(zip(header, line.rstrip("\n").split("\t")))
            rows[row["name"]] = row
    return rows

runs = {side: [read(f"{out}/{side}.{r}.tsv") for r in range(1, rounds + 1)]
        for side in ("base", "head")}
names = list(runs["base"][0])
print(f"base {base_name}, head {head_name}: best wall time of {rounds} alternating rounds")
print(f"{'target':<18} {'base ms':>10} {'head ms':>10} {'ratio':>7}  {'outcome':<9} {'counters':<9} result"
      "  (counters: those that changed)")
differs = False
log_ratio = 0.0
for name in names:
    sides = {s: [run[name] for run in runs[s] if name in run] for s in runs}
    if len(sides["head"]) != rounds:
        print(f"{name:<18} missing from the head battery")
        differs = True
        continue
    first = sides["base"][0]
    all_rows = sides["base"] + sides["head"]
    same_outcome = all(tuple(r.get(k) for k in OUTCOME) == tuple(first.get(k) for k in OUTCOME)
                       for r in all_rows)
    changed = [k for k in COUNTERS if any(r.get(k) != first.get(k) for r in all_rows)]
    counters = ",".join(changed) if changed else "same"
    base_ms = min(float(r["ms"]) for r in sides["base"])
    head_ms = min(float(r["ms"]) for r in sides["head"])
    ratio = head_ms / base_ms
    log_ratio += math.log(ratio)
    differs |= not same_outcome
    result = f"{first['formula']}  error={first['error_hex']}  cx={first['complexity']}"
    if not same_outcome:
        h = sides["head"][0]
        result += f"  HEAD: {h['formula']}  error={h['error_hex']}  cx={h['complexity']}"
    print(f"{name:<18} {base_ms:10.2f} {head_ms:10.2f} {ratio:7.3f}  "
          f"{'same' if same_outcome else 'DIFFERS':<9} {counters:<9} {result}")
print(f"geometric mean ratio head/base over {len(names)} targets: {math.exp(log_ratio / len(names)):.3f}")
if differs:
    print("outcomes differ between the revisions (or between rounds)")
sys.exit(1 if differs else 0)
EOF
