#!/usr/bin/env bash
# Fuzzing odscp: seed corpora, regression replay, smoke runs and long runs.
#   run.sh seeds BUILD                   write the seed corpora into BUILD/seeds
#   run.sh smoke BUILD [SECONDS]         replay tests/fuzz/regressions, then fuzz each target
#   run.sh fuzz BUILD TARGET SECONDS DIR fuzz one target with its corpus in DIR
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
targets=(filespec_fuzz volume_fuzz)

usage() {
  sed -n '2,5p' "$0" >&2
  exit 2
}

binary() { echo "$build/tests/fuzz/$1"; }

# Options every run shares: a hang is a fault, memory is bounded, stderr (the
# program's diagnostics) is discarded while the fuzzer's own reports are kept.
common_options() {
  local target="$1"
  echo "-timeout=10 -rss_limit_mb=2048 -close_fd_mask=2"
  if [ "$target" = volume_fuzz ]; then
    echo "-max_len=262144 -dict=$here/volume.dict"
  else
    echo "-max_len=4096"
  fi
}

seed_dir() { echo "$build/seeds/${1%_fuzz}"; }

write_seeds() {
  mkdir -p "$build/seeds/volume" "$build/seeds/filespec"
  "$build/tests/fuzz/make_seeds" "$build/seeds/volume" "$build/seeds/filespec"
}

# Each regression input once; a crash, leak or sanitizer report fails.
replay() {
  local target="$1" dir="$here/regressions/${1%_fuzz}"
  local inputs=()
  [ -d "$dir" ] && mapfile -t inputs < <(find "$dir" -type f ! -name '*.md' | sort)
  if [ "${#inputs[@]}" -eq 0 ]; then
    echo "$target: no regression inputs"
    return
  fi
  echo "$target: replaying ${#inputs[@]} regression inputs"
  # shellcheck disable=SC2046
  "$(binary "$target")" $(common_options "$target") "${inputs[@]}"
}

# Fuzzes target for seconds in this one process (no -jobs: that forks workers
# and logs into the working directory), new inputs going to corpus; seeds are read too.
fuzz() {
  local target="$1" seconds="$2" corpus="$3" artifacts="$build/fuzz-artifacts"
  mkdir -p "$corpus" "$artifacts"
  echo "$target: fuzzing for $seconds s, corpus $corpus"
  # shellcheck disable=SC2046
  "$(binary "$target")" $(common_options "$target") -print_final_stats=1 \
    -max_total_time="$seconds" -artifact_prefix="$artifacts/$target-" \
    "$corpus" "$(seed_dir "$target")"
}

smoke() {
  local seconds="${1:-60}"
  write_seeds
  for t in "${targets[@]}"; do replay "$t"; done
  smoke_scratch="$(mktemp -d)"
  trap 'rm -rf "$smoke_scratch"' EXIT
  for t in "${targets[@]}"; do fuzz "$t" "$seconds" "$smoke_scratch/$t"; done
}

[ $# -ge 2 ] || usage
command="$1"
build="$(cd "$2" && pwd)"
shift 2
case "$command" in
seeds) write_seeds ;;
smoke) smoke "$@" ;;
fuzz) [ $# -eq 3 ] || usage; fuzz "$@" ;;
*) usage ;;
esac
