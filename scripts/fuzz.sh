#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs each on a copy of its seed corpus. Exits non-zero when a target finds anything (a
# crash, a failed check, a hang, a leak, running out of memory) or cannot be built.
#   FUZZ_SECONDS  how long each target runs (default 60); 0 only runs the seeds once
#   FUZZ_TARGETS  the targets to run, e.g. "tagreader undomanifest" (default: every fuzz/fuzz_*.cpp)
#   BUILD_DIR     build folder (default: build-fuzz)
#   FINDINGS_DIR  where inputs that fail are kept (default: BUILD_DIR/findings)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# libFuzzer ships with clang's runtime libraries, which clang itself only recommends.
bash "$ROOT/scripts/setup-deps.sh" clang libclang-rt-dev

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-fuzz}"
FINDINGS_DIR="${FINDINGS_DIR:-$BUILD_DIR/findings}"
JOBS="${JOBS:-$(nproc)}"
if [ -z "${FUZZ_TARGETS:-}" ]; then
    FUZZ_TARGETS="$(cd "$ROOT/fuzz" && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//' | tr '\n' ' ')"
fi

CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRAVELWICK_BUILD_FUZZERS=ON \
    -DRAVELWICK_BUILD_TESTS=OFF \
    -DRAVELWICK_BUILD_BENCHMARKS=OFF \
    -DRAVELWICK_SANITIZE=address,undefined
build_targets=()
for t in $FUZZ_TARGETS; do
    build_targets+=("fuzz_$t")
done
cmake --build "$BUILD_DIR" -j "$JOBS" --target "${build_targets[@]}"

# The readers get their input through files; on a RAM disk a run costs a sixth of what it costs
# on a journalling file system. The targets' temporary folders go inside the work folder, so that
# those of a target that failed are removed as well.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    work="$(mktemp -d -p /dev/shm ravelwick-fuzz.XXXXXX)"
else
    work="$(mktemp -d)"
fi
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp" "$FINDINGS_DIR"
export TMPDIR="$work/tmp"

failed=()
for t in $FUZZ_TARGETS; do
    # The longest input worth trying: a few seeds' worth for the file readers, a few hundred
    # fingerprint words (a comparison costs the square of the length), a few KB for a reply.
    case "$t" in
        tagreader) max_len=16384 ;;
        fingerprintblob) max_len=2048 ;;
        updatereply) max_len=4096 ;;
        *) max_len=8192 ;;
    esac
    extra=()
    # Qt's network layer keeps caches from one request to the next, so libFuzzer's check after
    # every run would count each run as a possible leak and rescan the heap (25 times slower).
    if [ "$t" = updatereply ]; then
        extra+=(-detect_leaks=0)
    fi
    if [ "$FUZZ_SECONDS" -gt 0 ]; then
        extra+=(-max_total_time="$FUZZ_SECONDS")
    else
        extra+=(-runs=0)
    fi
    cp -r "$ROOT/fuzz/corpus/$t" "$work/$t"
    echo "fuzz: $t for ${FUZZ_SECONDS} s"
    if "$BUILD_DIR/fuzz/fuzz_$t" -max_len="$max_len" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$FINDINGS_DIR/$t-" "${extra[@]}" "$work/$t" >"$work/$t.log" 2>&1; then
        grep -E "^#[0-9]+[[:space:]]+(DONE|INITED)|^stat::number_of_executed_units" "$work/$t.log" | tail -2
        echo "fuzz: $t corpus $(ls "$work/$t" | wc -l) inputs"
    else
        tail -n 60 "$work/$t.log"
        echo "fuzz: $t FAILED; the input is under $FINDINGS_DIR" >&2
        failed+=("$t")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: findings in ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: no findings"
