#!/bin/bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, address and
# undefined-behaviour sanitizers) and runs each one for a bounded time,
# starting from its seed corpus in tests/fuzz/corpus/<target>.
#
#   TOLVO_FUZZ_SECONDS  time per target in seconds (default 45)
#   TOLVO_FUZZ_CORPUS   folder that keeps the grown corpora between runs,
#                       one subfolder per target (default: a temporary
#                       folder, removed at the end)
#   TOLVO_JOBS          build parallelism (default: the number of CPUs)
#
# A finding (crash, sanitizer report, leaked handle, broken record) keeps
# its input in build/fuzz/findings/<target>/ and fails the script; rerun it
# with build/fuzz/tests/fuzz/<target> <input>.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$repo"
seconds="${TOLVO_FUZZ_SECONDS:-45}"
jobs="${TOLVO_JOBS:-$(nproc)}"
targets=(fuzz_config_file fuzz_command_line fuzz_registry_config)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

# The simulated machines keep their files in temporary folders: all of them
# go into one folder of this run, in memory where possible, which is removed
# at the end whatever happens (a crashing target cannot clean up itself).
parent="${TMPDIR:-/tmp}"
if [[ -d /dev/shm && -w /dev/shm ]]; then
  parent=/dev/shm
fi
scratch="$(mktemp -d "$parent/tolvo-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

failures=()
total=0
for target in "${targets[@]}"; do
  corpus="$scratch/corpus/$target"
  if [[ -n "${TOLVO_FUZZ_CORPUS:-}" ]]; then
    corpus="$TOLVO_FUZZ_CORPUS/$target"
  fi
  findings="$repo/build/fuzz/findings/$target"
  mkdir -p "$corpus" "$findings"
  log="$scratch/$target.log"
  # New inputs go to the first folder; the seeds stay as committed.
  if TMPDIR="$scratch" "$repo/build/fuzz/tests/fuzz/$target" \
      -max_total_time="$seconds" -max_len=4096 -timeout=30 \
      -artifact_prefix="$findings/" \
      "$corpus" "$repo/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    runs="$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)"
    runs="${runs:-0}"
    total=$((total + runs))
    echo "== $target: $runs executions in ${seconds} s, no finding"
  else
    echo "== $target: FINDING (input kept in $findings)"
    tail -n 60 "$log"
    failures+=("$target")
  fi
done

echo "== fuzzing: $total executions in total"
if ((${#failures[@]} > 0)); then
  echo "== FAILED: ${failures[*]}"
  exit 1
fi
