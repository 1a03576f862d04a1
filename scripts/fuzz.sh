#!/usr/bin/env bash
# Builds every libFuzzer target (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in build-fuzz/
# and runs each on its corpus in fuzz/corpus/<target>, so an input that crashes a reader fails here.
#   scripts/fuzz.sh            20 seconds per target
#   scripts/fuzz.sh 600        ten minutes per target
# New inputs the fuzzer finds go to a scratch folder, never into the repository's corpus. The seed is
# fixed (FUZZ_SEED, default 1) so that a CI failure can be replayed; set another for longer hunts.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
targets=(fuzz_reportdescriptor fuzz_descriptorfile fuzz_hidbinding fuzz_scriptfile fuzz_settingsfile
         fuzz_serviceprotocol)

scripts/deps.sh clang libclang-rt-dev
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_BUILD_FUZZ=ON \
  -DTESSARO_BUILD_TESTS=OFF -DTESSARO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  # The binding target's input starts with a descriptor, so it shares the descriptor's dictionary.
  dictName=$name
  [ "$name" = hidbinding ] && dictName=reportdescriptor
  dict=()
  [ -f "fuzz/$dictName.dict" ] && dict=(-dict="fuzz/$dictName.dict")
  mkdir -p "$scratch/$name"
  echo "== $target: ${seconds} s"
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -seed="${FUZZ_SEED:-1}" -artifact_prefix="$scratch/" -print_final_stats=1 "${dict[@]}" "$scratch/$name" "fuzz/corpus/$name" \
    2>"$scratch/$name.log" || { tail -n 60 "$scratch/$name.log"; exit 1; }
  grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$scratch/$name.log" | tail -n 2
done
