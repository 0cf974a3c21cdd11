#!/usr/bin/env bash
# Runs the libFuzzer targets of the `fuzz` preset, several at a time, each on a
# scratch copy of its seed corpus, and minimises what each run found.
#
#   fuzz/run_campaign.sh [-j JOBS] [-t SECONDS] [-b BUILD_DIR] [-o OUT_DIR] [TARGET ... | -]
#
# Each target runs under `nice -n 19` with -timeout=10 -rss_limit_mb=2048
# -print_final_stats=1; FUZZ_FLAGS adds libFuzzer flags (later ones win, so
# FUZZ_FLAGS=-timeout=30 lengthens the timeout).
#
# Without targets every *_fuzz.cc under fuzz/ is run; with "-" the target names
# are read from standard input, one a line, as they arrive (so a run can start
# on the targets already built while the rest still build).
#
# Per target, under OUT_DIR/<target>/:
#   run.log      libFuzzer's output (final stats at the end)
#   corpus/      the seeds plus everything the run kept
#   min/         corpus/ minimised with -merge=1 into an empty directory
#   crash-*, leak-*, timeout-*, oom-*   reproducers of findings, if any
# and OUT_DIR/summary.tsv gets one line per target:
#   target seconds_run executions cov ft minimised_files exit_status
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
jobs=8
seconds=600
build="$root/build/fuzz"
out="$root/scratch"

while getopts "j:t:b:o:" opt; do
  case $opt in
    j) jobs=$OPTARG ;;
    t) seconds=$OPTARG ;;
    b) build=$OPTARG ;;
    o) out=$OPTARG ;;
    *) sed -n '2,18p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
mkdir -p "$out"

# The source of a target is fuzz/<dir>/<stem>.cc; its binary is
# <build>/fuzz/<dir>/<prefix>_<stem> and its seeds are fuzz/<dir>/corpus/<stem>/.
source_of() {
  local target=$1 src rel
  while IFS= read -r src; do
    rel=$(dirname "${src#"$root"/}")
    if [[ $target == *_"$(basename "$src" .cc)" && -e $build/$rel/$target ]]; then
      echo "$src"
      return 0
    fi
  done < <(find "$here" -name '*_fuzz.cc' | sort)
  return 1
}

run_one() {
  local target=$1 src dir stem rel bin work status
  src=$(source_of "$target") || { echo "no source for $target" >&2; return 1; }
  dir=$(dirname "$src")
  stem=$(basename "$src" .cc)
  rel=${dir#"$root"/}
  bin="$build/$rel/$target"
  [[ -x $bin ]] || { echo "not built: $bin" >&2; return 1; }
  work="$out/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/min"
  if [[ -d $dir/corpus/$stem ]]; then
    cp -r "$dir/corpus/$stem/." "$work/corpus/"
  fi
  echo "$(date -u +%H:%M:%S) start $target"
  local started=$SECONDS
  # shellcheck disable=SC2086  # FUZZ_FLAGS is a list of flags
  nice -n 19 "$bin" "$work/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/" ${FUZZ_FLAGS:-} > "$work/run.log" 2>&1
  status=$?
  local ran=$((SECONDS - started))
  nice -n 19 "$bin" -merge=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/" "$work/min" "$work/corpus" > "$work/merge.log" 2>&1
  local execs cov ft files
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/run.log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$work/run.log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$work/run.log" | tail -1 | cut -d' ' -f2)
  files=$(find "$work/min" -type f | wc -l)
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$target" "$ran" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$status" \
    >> "$out/summary.tsv"
  echo "$(date -u +%H:%M:%S) done  $target (exit $status)"
}
export -f run_one source_of
export here root build out seconds

if [[ $# -eq 1 && $1 == - ]]; then
  cat
elif [[ $# -gt 0 ]]; then
  printf '%s\n' "$@"
else
  find "$here" -name '*_fuzz.cc' | sort | while IFS= read -r src; do
    rel=$(dirname "${src#"$here"/}")
    find "$build/fuzz/$rel" -maxdepth 1 -type f -name "*_$(basename "$src" .cc)" -printf '%f\n'
  done
fi | xargs -r -n 1 -P "$jobs" bash -c 'run_one "$1"' _
