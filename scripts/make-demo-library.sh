#!/usr/bin/env bash
# Makes a small demo library of generated tracks with every kind of duplicate the program
# finds: byte copies, the same audio with other tags, re-encodes in other formats, and a copy
# cut short.
# Prints the library's folder. Existing demo files are kept, so a second run is instant.
set -euo pipefail

base="${XDG_CACHE_HOME:-$HOME/.cache}"
[ -w "$(dirname "$base")" ] || base="${TMPDIR:-/tmp}"
DEMO="${RVW_DEMO_DIR:-$base/ravelwick/demo-library}"
mkdir -p "$DEMO/Studio" "$DEMO/Archive/2019" "$DEMO/Incoming"

if [ -f "$DEMO/.complete-v3" ]; then
    echo "$DEMO"
    exit 0
fi

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# Three "songs": tunes whose notes change every quarter or half second, 20 seconds each.
make_song() { # name left-expression right-expression
    ff -f lavfi -i "aevalsrc=$2|$3:s=44100:d=20" -c:a flac \
        -metadata artist="Demo Band" -metadata title="$1" -metadata album="Demo Sessions" \
        "$DEMO/Studio/$1.flac"
}
make_song "Morning Chord" \
    "0.3*sin(2*PI*t*(220+55*mod(floor(t*4)*3\\,7)))+0.2*sin(2*PI*t*(330+40*mod(floor(t*2)\\,5)))" \
    "0.3*sin(2*PI*t*(220+55*mod(floor(t*4)*3\\,7)))+0.15*sin(2*PI*t*440)"
make_song "Night Pulse" \
    "0.5*sin(2*PI*t*(110+30*mod(floor(t*2)*5\\,6)))*(0.5+0.5*sin(2*PI*t*3))" \
    "0.5*sin(2*PI*t*(165+30*mod(floor(t*2)*5\\,6)))*(0.5+0.5*sin(2*PI*t*3))"
make_song "Rising Tide" \
    "0.4*sin(2*PI*t*(300+80*mod(floor(t*3)*2\\,9)))*(0.7+0.3*sin(2*PI*t*0.5))" \
    "0.4*sin(2*PI*t*(450+60*mod(floor(t*3)*4\\,7)))"

for song in "Morning Chord" "Night Pulse" "Rising Tide"; do
    # a re-encode in another format
    ff -i "$DEMO/Studio/$song.flac" -c:a libmp3lame -b:a 192k -id3v2_version 3 "$DEMO/Incoming/$song.mp3"
done

# byte-for-byte copies
cp "$DEMO/Studio/Morning Chord.flac" "$DEMO/Archive/2019/Morning Chord (copy).flac"
cp "$DEMO/Incoming/Night Pulse.mp3" "$DEMO/Archive/2019/Night Pulse.mp3"

# the same audio with other tags
ff -i "$DEMO/Incoming/Rising Tide.mp3" -c copy -map_metadata -1 -metadata artist="Demo Band" \
    -metadata title="Rising Tide (Radio Edit)" -metadata comment="from the promo CD" -id3v2_version 4 \
    "$DEMO/Archive/2019/Rising Tide - promo.mp3"

# a copy whose last second was lost (a transfer cut short)
ff -i "$DEMO/Studio/Night Pulse.flac" -t 19.1 -c:a libmp3lame -b:a 128k -id3v2_version 3 \
    "$DEMO/Archive/2019/Night Pulse (cut short).mp3"

# a low-bitrate AAC re-encode
ff -i "$DEMO/Studio/Morning Chord.flac" -c:a aac -b:a 96k "$DEMO/Incoming/Morning Chord.m4a"

touch "$DEMO/.complete-v3"
echo "$DEMO"
