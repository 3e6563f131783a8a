#!/usr/bin/env bash
# Static analysis of src/: clang-tidy (the checks in .clang-tidy) and cppcheck, both
# reading the compile commands of a build folder.
#   bash scripts/lint.sh [BUILD_DIR]        (default: build-lint, configured if missing)
# Prints every finding and a count per tool; exits 1 when there is any. A finding that
# is not a fault is suppressed at its line (NOLINT / cppcheck-suppress) with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-lint}
jobs=${LINT_JOBS:-2}

for tool in clang-tidy run-clang-tidy cppcheck; do
    command -v "$tool" >/dev/null || { echo "lint: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 2; }
done

if [[ ! -f $build/compile_commands.json ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUVELOCAP_BUILD_BENCHMARKS=OFF >/dev/null
fi
# The sources include the headers that moc and uic generate; make them without compiling.
mapfile -t autogen < <(cmake --build "$build" --target help | sed -n 's/^\(qc_[a-z_]*_autogen\):.*/\1/p')
if ((${#autogen[@]})); then
    cmake --build "$build" -j"$jobs" --target "${autogen[@]}" >/dev/null
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Both tools read the translation units under src/ only (tests, moc output and other
# generated files are left out, and some of them may not have been generated yet).
python3 - "$build/compile_commands.json" "$root/src/" "$out/compile_commands.json" <<'PY'
import json, sys
commands = json.load(open(sys.argv[1]))
ours = [c for c in commands if c["file"].startswith(sys.argv[2]) and "_autogen" not in c["file"]]
json.dump(ours, open(sys.argv[3], "w"), indent=1)
PY

# clang-tidy: a header's finding is counted once.
run-clang-tidy -quiet -j "$jobs" -p "$out" >"$out/tidy.log" 2>/dev/null || true
sed 's/\x1b\[[0-9;]*m//g' "$out/tidy.log" | grep -E '^/[^:]+:[0-9]+:[0-9]+: (warning|error): ' |
    sort -u >"$out/tidy.txt" || true

# cppcheck: Qt's macros known, system headers not parsed. Two style opinions are off:
# useStlAlgorithm (a plain loop that returns early reads as well) and shadowFunction (Qt
# classes name many functions window(), name(), ... that locals rightly share).
cppcheck --project="$out/compile_commands.json" \
    --library=qt --enable=warning,style,performance,portability --inline-suppr \
    --suppress=missingIncludeSystem --suppress=unmatchedSuppression \
    --suppress=useStlAlgorithm --suppress=shadowFunction \
    -j "$jobs" --quiet \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
    2>"$out/cppcheck.log" >/dev/null || true
grep -E '^/[^:]+:[0-9]+:[0-9]+: ' "$out/cppcheck.log" | sort -u >"$out/cppcheck.txt" || true

tidy=$(wc -l <"$out/tidy.txt")
check=$(wc -l <"$out/cppcheck.txt")
if ((tidy)); then echo "== clang-tidy"; sed "s|^$root/||" "$out/tidy.txt"; fi
if ((check)); then echo "== cppcheck"; sed "s|^$root/||" "$out/cppcheck.txt"; fi
echo "lint: clang-tidy $tidy finding(s), cppcheck $check finding(s)"
((tidy + check == 0))
