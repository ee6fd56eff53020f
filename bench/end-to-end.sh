#!/usr/bin/env bash
# Whole-process benchmark of ravelwick-cli on a generated library.
#   bench/end-to-end.sh [FILES] [LIBRARY_DIR]
# Makes (once) a library of FILES tracks (default 2000) of 10 to 30 s of music-like audio in
# mixed formats with planted duplicates of every tier, then prints one table: first and
# cached scan, an identical-only scan, and the fpcalc fingerprint phase next to a bare
# `fpcalc -length 60` loop over the same files with the same number of parallel jobs.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FILES="${1:-2000}"
LIB="${2:-${TMPDIR:-/tmp}/ravelwick-bench-library-$FILES}"
JOBS="${JOBS:-$(nproc)}"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-release}"

bash "$ROOT/scripts/setup-deps.sh"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAVELWICK_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS" --target ravelwick-cli >/dev/null
CLI="$BUILD_DIR/src/ravelwick-cli"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

make_track() { # index
    local i=$1 dir="$LIB/artist$(( i % 40 ))"
    local seconds=$(( 10 + (i * 37) % 21 ))
    local f1=$(( 110 + (i * 13) % 220 )) f2=$(( 3 + i % 7 )) f3=$(( 2 + (i * 5) % 9 ))
    local expr="0.35*sin(2*PI*t*($f1+$f1/2*mod(floor(t*$f2)\,5)))*(0.6+0.4*sin(2*PI*t*0.$f3))+0.2*sin(2*PI*t*($f1*3/2+20*mod(floor(t*4)\,3)))"
    mkdir -p "$dir"
    compgen -G "$dir/track$i.*" >/dev/null && return 0  # made by an earlier, interrupted run
    case $(( i % 4 )) in
        0) ff -f lavfi -i "aevalsrc=$expr:s=44100:d=$seconds" -c:a flac -metadata title="Track $i" -metadata artist="Artist $(( i % 40 ))" "$dir/track$i.flac" ;;
        1) ff -f lavfi -i "aevalsrc=$expr:s=44100:d=$seconds" -c:a libmp3lame -b:a 192k -metadata title="Track $i" -metadata artist="Artist $(( i % 40 ))" "$dir/track$i.mp3" ;;
        2) ff -f lavfi -i "aevalsrc=$expr:s=44100:d=$seconds" -c:a aac -b:a 160k -metadata title="Track $i" -metadata artist="Artist $(( i % 40 ))" "$dir/track$i.m4a" ;;
        3) ff -f lavfi -i "aevalsrc=$expr:s=44100:d=$seconds" -c:a libvorbis -q:a 4 -metadata title="Track $i" -metadata artist="Artist $(( i % 40 ))" "$dir/track$i.ogg" ;;
    esac
}
export -f make_track ff
export LIB

if [ ! -f "$LIB/.complete" ]; then
    originals=$(( FILES * 85 / 100 ))
    echo "Making $originals originals in $LIB ..." >&2
    seq 0 $(( originals - 1 )) | xargs -P "$JOBS" -I{} bash -c 'make_track {}'
    mkdir -p "$LIB/dupes"
    # only every fourth original is an MP3, spread over the artists: take them in turn
    mapfile -t mp3s < <(find "$LIB" -path "$LIB/artist*" -name '*.mp3' | sort)
    n=$originals
    k=0
    # planted duplicates, in turn: byte copy, retagged copy, re-encode, metadata-only namesake
    while [ "$n" -lt "$FILES" ]; do
        src="${mp3s[$(( (k * 7) % ${#mp3s[@]} ))]}"
        case $(( k % 4 )) in
            0) cp "$src" "$LIB/dupes/copy$k.mp3" ;;
            1) ff -i "$src" -c copy -map_metadata -1 -metadata title="Retagged $k" "$LIB/dupes/retag$k.mp3" ;;
            2) ff -i "$src" -c:a libvorbis -q:a 2 "$LIB/dupes/reencode$k.ogg" ;;
            3) ff -i "$src" -af "volume=0.8,atempo=1.02" -c:a libmp3lame -b:a 128k "$LIB/dupes/edit$k.mp3" ;;
        esac
        n=$(( n + 1 )); k=$(( k + 1 ))
    done
    touch "$LIB/.complete"
fi
count=$(find "$LIB" -type f ! -name .complete | wc -l)
hours=$(python3 -c "print(round(sum(10 + (i * 37) % 21 for i in range($count)) / 3600, 1))")

export HOME="${BENCH_HOME:-$(mktemp -d)}"  # a private cache, quarantine and settings
T="python3 $ROOT/bench/phase_timer.py"
engine_builtin=$($T "$CLI" scan --engine builtin --threads "$JOBS" "$LIB")
engine_cached=$($T "$CLI" scan --engine builtin --threads "$JOBS" "$LIB")
identical=$($T "$CLI" scan --no-same-audio --no-acoustic --no-cache "$LIB")
fpcalc_scan=$($T "$CLI" scan --engine fpcalc --seconds 60 --threads "$JOBS" --no-cache --no-identical --no-same-audio "$LIB")
start=$(date +%s.%N)
find "$LIB" -type f ! -name .complete -print0 | xargs -0 -P "$JOBS" -n 1 fpcalc -raw -length 60 >/dev/null 2>&1 || true
bare=$(python3 -c "import time; print(time.time() - $start)")

python3 - "$count" "$hours" "$engine_builtin" "$engine_cached" "$identical" "$fpcalc_scan" "$bare" "$JOBS" <<'PY'
import json, sys
count, hours = int(sys.argv[1]), sys.argv[2]
first, cached, ident, fp = (json.loads(a) for a in sys.argv[3:7])
bare, jobs = float(sys.argv[7]), sys.argv[8]
def row(name, r, extra=""):
    rate = r["files"] / r["wall"] if r["wall"] > 0 else 0
    print(f"| {name} | {r['wall']:.1f} s | {rate:.1f} | {r['peakMiB']:.0f} MiB | {extra} |")
print(f"Library: {count} files, about {hours} h of audio, {jobs} parallel jobs\n")
print("| run | wall | files/s | peak memory | note |")
print("|---|---|---|---|---|")
row("first scan (built-in engine)", first, "cache empty")
row("cached scan (built-in engine)", cached, f"{first['wall'] / max(cached['wall'], 1e-9):.1f}x faster than the first")
row("identical-only scan", ident, "whole-file SHA-256 only")
fpphase = fp["phases"].get("Fingerprinting audio", 0.0)
row("fpcalc scan, acoustic only", fp, f"fingerprint phase {fpphase:.1f} s")
print(f"| bare `fpcalc -length 60` loop | {bare:.1f} s | {count / bare:.1f} | - | ratio phase/bare {fpphase / bare:.2f} |")
PY
