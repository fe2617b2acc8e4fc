#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, clang) and runs each for SECONDS seconds (default
# 20; the slowest one for a multiple of it) on a copy of its seed corpus, so that
# tests/fuzz/corpus does not grow. Saved inputs that once crashed or took too long, in
# tests/fuzz/regressions/<target>/, are run first, each within the target's time per input.
# Fails if any target crashes or hangs; the inputs are kept in build/fuzz/artifacts/<target>/
# and the logs in build/fuzz/logs/.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS]   (a whole number of seconds per target, at least 1)" >&2
    exit 2
fi

source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzzers

bin=build/fuzz/tests/fuzz
artifacts=build/fuzz/artifacts
logs=build/fuzz/logs
mkdir -p "$artifacts" "$logs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Undefined behaviour must stop the run like a crash does, so that its input is saved.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# target, largest input, seconds before an input counts as hung, how many times SECONDS it
# runs, further libFuzzer arguments.
# DecryptData pays one scrypt call per input and a restored MD5 payload a file job, a second or
# so each under the sanitizers: that target runs three times as long, so that its seeds (frames
# of tiny blocks among them) all run and some of their mutations too, and it is also bounded by
# a number of inputs. The record reader gets the UTF-8 sequences that matter as a dictionary;
# the zstd frames target also reads the fixtures, for the 48 KiB frame that is not copied.
targets=(
    "fuzz_record_reader 8192 5 1 -dict=tests/fuzz/fuzz_record_reader.dict"
    "fuzz_chunk_open 4096 5 1"
    "fuzz_decrypt_data 512 10 3 -runs=500"
    "fuzz_zstd_frames 65536 10 1 tests/data/format"
)

failed=()
for entry in "${targets[@]}"; do
    read -r target max_len timeout share extra <<<"$entry"
    log="$logs/$target.log"
    mkdir -p "$artifacts/$target"

    regressions=(tests/fuzz/regressions/"$target"/*)
    if [ -e "${regressions[0]}" ]; then
        if ! "$bin/$target" -timeout="$timeout" "${regressions[@]}" >"$log" 2>&1; then
            echo "$target: a saved crash input still fails; not fuzzed (see $log)"
            grep -E 'Running: |check failed|runtime error|ERROR: ' "$log" | tail -n3 || true
            failed+=("$target")
            continue
        fi
    fi

    mkdir -p "$work/$target"
    cp -R "tests/fuzz/corpus/$target/." "$work/$target/"
    # shellcheck disable=SC2086 # extra holds separate words
    if "$bin/$target" -max_total_time=$((seconds * share)) -max_len="$max_len" -timeout="$timeout" \
        -artifact_prefix="$artifacts/$target/" -print_final_stats=1 \
        "$work/$target" $extra >>"$log" 2>&1; then
        echo "$target: $(grep -E '^#[0-9]+' "$log" | tail -n1)"
    else
        echo "$target: FAILED (see $log)"
        grep -E 'ERROR: libFuzzer|ERROR: AddressSanitizer|check failed|runtime error|Test unit written' "$log" || true
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "Failed: ${failed[*]}" >&2
    exit 1
fi
echo "No crash in $seconds s per target (fuzz_decrypt_data: three times as long)."
