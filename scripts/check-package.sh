#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: lintian without errors,
# a valid desktop entry and AppStream metainfo, every installed file in place, stripped
# programs with their debug files in the -dbgsym package; then installs it, runs
# ravelwick-cli on a small generated library, opens the window through the desktop entry on
# a virtual display, removes the package and checks that its files are gone.
# As root it installs and removes with apt-get (which also proves that the dependencies
# resolve); otherwise it unpacks the package into a scratch folder and runs it from there.
# Safe to run again. Exits non-zero with a message on the first failure.
#   BUILD_DIR   a RelWithDebInfo build folder to package from (default: build-package,
#               configured by make-package.sh); the plain test build `build` saves a build
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$ROOT/scripts/setup-deps.sh" dpkg-dev file binutils lintian desktop-file-utils appstream \
    x11-utils xvfb xauth ffmpeg

APP_ID=com.kestrilon.Ravelwick
started=$SECONDS

fail() {
    echo "check-package: FAIL: $*" >&2
    exit 1
}
step() {
    echo "check-package: $*"
}

scratch="$(mktemp -d "${TMPDIR:-/tmp}/ravelwick-check.XXXXXX")"
gui_pid=""
cleanup() {
    if [ -n "$gui_pid" ] && kill -0 "$gui_pid" 2>/dev/null; then
        kill "$gui_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# --- Build -------------------------------------------------------------------------------
step "building the package"
mapfile -t packages < <(bash "$ROOT/scripts/make-package.sh")
deb="" ddeb=""
for p in "${packages[@]}"; do
    case "$p" in
    *-dbgsym_*.ddeb) ddeb="$p" ;;
    *.deb) deb="$p" ;;
    esac
done
[ -f "$deb" ] || fail "make-package.sh made no .deb (it printed: ${packages[*]:-nothing})"
[ -f "$ddeb" ] || fail "make-package.sh made no -dbgsym package (it printed: ${packages[*]:-nothing})"
version="$(dpkg-deb -f "$deb" Version)"
step "made $deb and $ddeb (version $version) after $((SECONDS - started)) s"

# --- lintian -------------------------------------------------------------------------------
step "lintian"
lintian_out="$scratch/lintian.txt"
lintian_status=0
lintian --display-info --pedantic "$deb" "$ddeb" >"$lintian_out" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$lintian_out" || true
if grep -q '^E: ' "$lintian_out"; then
    fail "lintian reports errors (lines starting with E: above)"
fi
[ "$lintian_status" -eq 0 ] || fail "lintian failed (exit status $lintian_status)"

# --- Contents ------------------------------------------------------------------------------
step "package contents"
stage="$scratch/stage"
dbgstage="$scratch/dbgsym"
dpkg-deb -x "$deb" "$stage"
dpkg-deb -x "$ddeb" "$dbgstage"
expected=(
    usr/bin/ravelwick
    usr/bin/ravelwick-cli
    "usr/share/applications/$APP_ID.desktop"
    "usr/share/metainfo/$APP_ID.metainfo.xml"
    usr/share/man/man1/ravelwick.1.gz
    usr/share/man/man1/ravelwick-cli.1.gz
    usr/share/bash-completion/completions/ravelwick-cli
    usr/share/doc/ravelwick/copyright
    usr/share/doc/ravelwick/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png")
done
for f in "${expected[@]}"; do
    [ -f "$stage/$f" ] || fail "the package lacks /$f"
done
for size in 16 22 24 32 48 64 128 256; do
    file -b "$stage/usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png" |
        grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not a $size px PNG"
done
for page in ravelwick ravelwick-cli; do
    gzip -t "$stage/usr/share/man/man1/$page.1.gz" || fail "the manual page $page.1.gz is not valid gzip"
    zcat "$stage/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH " || fail "$page.1.gz is not a manual page"
done
bash -n "$stage/usr/share/bash-completion/completions/ravelwick-cli" ||
    fail "the bash completion does not parse"

step "desktop entry and metainfo"
desktop-file-validate "$stage/usr/share/applications/$APP_ID.desktop" ||
    fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$stage/usr/share/metainfo/$APP_ID.metainfo.xml" ||
    fail "appstreamcli rejects the metainfo"
# The metainfo together with the desktop entry and the icons it names.
appstreamcli validate-tree --no-net "$stage" || fail "appstreamcli rejects the installed tree"

step "stripped programs and their debug files"
for prog in ravelwick ravelwick-cli; do
    info="$(file -b "$stage/usr/bin/$prog")"
    case "$info" in
    *"not stripped"*) fail "/usr/bin/$prog is not stripped: $info" ;;
    *ELF*stripped*) ;;
    *) fail "/usr/bin/$prog is not a stripped ELF program: $info" ;;
    esac
    build_id="$(LC_ALL=C readelf -n "$stage/usr/bin/$prog" | sed -n 's/.*Build ID: *\([0-9a-f]*\).*/\1/p')"
    [ -n "$build_id" ] || fail "/usr/bin/$prog has no build ID"
    debug="$dbgstage/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
    [ -f "$debug" ] || fail "the -dbgsym package has no debug file for /usr/bin/$prog (build ID $build_id)"
    file -b "$debug" | grep -q "with debug_info" || fail "$debug holds no debug information"
done

# --- Install -------------------------------------------------------------------------------
if [ "$(id -u)" -eq 0 ]; then
    step "installing with apt-get"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "$(realpath "$deb")" ||
        fail "apt-get cannot install $deb"
    dpkg-query -W -f='${Status}' ravelwick | grep -q "install ok installed" ||
        fail "dpkg does not list ravelwick as installed"
    prefix=""
else
    step "not root: running the unpacked package from $stage"
    prefix="$stage"
fi
bindir="$prefix/usr/bin"
export PATH="$bindir:$PATH"
[ "$(command -v ravelwick-cli)" = "$bindir/ravelwick-cli" ] || fail "ravelwick-cli is not the installed one"

step "ravelwick-cli --version"
got="$(ravelwick-cli --version)" || fail "ravelwick-cli --version failed"
[ "$got" = "ravelwick-cli $version" ] || fail "ravelwick-cli --version says '$got', the package is $version"

# A home of its own, so that the check neither reads nor leaves a cache or settings.
export HOME="$scratch/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

step "a headless scan of a small library"
lib="$scratch/library"
mkdir -p "$lib/a" "$lib/b"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=6" "$lib/a/tone.wav"
cp "$lib/a/tone.wav" "$lib/b/tone copy.wav"
ffmpeg -nostdin -v error -f lavfi -i "anoisesrc=colour=pink:duration=7:seed=7" -ac 2 "$lib/a/other.wav"
report="$scratch/report.json"
status=0
ravelwick-cli scan --quiet --report "$report" "$lib" >"$scratch/scan.txt" 2>&1 || status=$?
cat "$scratch/scan.txt"
[ "$status" -eq 1 ] || fail "ravelwick-cli scan exited $status, expected 1 (duplicates found)"
grep -q '^Files scanned: 3$' "$scratch/scan.txt" || fail "the scan did not read all three files"
grep -q '^Duplicate groups: 1$' "$scratch/scan.txt" || fail "the scan did not report exactly one group"
grep -q '"groups": 1,' "$report" || fail "the report does not hold one group"
grep -q '"matchType": "Identical file"' "$report" || fail "the report's group is not of identical files"
grep -qF "\"path\": \"$lib/a/tone.wav\"" "$report" || fail "the report's group lacks a/tone.wav"
grep -qF "\"path\": \"$lib/b/tone copy.wav\"" "$report" || fail "the report's group lacks 'b/tone copy.wav'"
if grep -qF "other.wav" "$report"; then
    fail "the report groups other.wav, which has no copy"
fi
ravelwick-cli quarantine "$report" --dry-run --to "$scratch/quarantine" >"$scratch/dry.txt" ||
    fail "ravelwick-cli quarantine --dry-run failed"
grep -q "^Would move 1 file into" "$scratch/dry.txt" || fail "quarantine --dry-run would not move one copy"
[ -f "$lib/a/tone.wav" ] && [ -f "$lib/b/tone copy.wav" ] || fail "a dry run moved a file"

step "opening the window through the desktop entry on a virtual display"
exec_line="$(sed -n 's/^Exec=//p' "$stage/usr/share/applications/$APP_ID.desktop" | head -n1)"
# Field codes (%f, %F, %u, %U, ...) stand for files the desktop hands over: none here.
exec_line="$(printf '%s' "$exec_line" | sed 's/ *%[fFuUick]//g')"
[ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
cat >"$scratch/gui.sh" <<'GUI'
#!/usr/bin/env bash
# Runs inside xvfb-run: starts the command, waits for its window, checks it stays up.
set -u
unset QT_QPA_PLATFORM
"$@" >"$GUI_LOG" 2>&1 &
pid=$!
echo "$pid" >"$GUI_PID"
found=""
for _ in $(seq 1 60); do
    kill -0 "$pid" 2>/dev/null || { echo "the program exited early" >&2; exit 1; }
    if xwininfo -root -tree | grep -q '"Ravelwick"'; then
        found=yes
        break
    fi
    sleep 0.5
done
[ -n "$found" ] || { echo "no window named Ravelwick appeared within 30 s" >&2; kill "$pid"; exit 1; }
sleep 5
kill -0 "$pid" 2>/dev/null || { echo "the program exited within 5 s of showing its window" >&2; exit 1; }
kill -TERM "$pid"
for _ in $(seq 1 20); do
    kill -0 "$pid" 2>/dev/null || exit 0
    sleep 0.5
done
kill -KILL "$pid" 2>/dev/null
exit 0
GUI
read -r -a exec_words <<<"$exec_line"
GUI_LOG="$scratch/gui.log" GUI_PID="$scratch/gui.pid" \
    xvfb-run -a -s "-screen 0 1600x1000x24" bash "$scratch/gui.sh" "${exec_words[@]}" ||
    { gui_pid="$(cat "$scratch/gui.pid" 2>/dev/null || true)"; cat "$scratch/gui.log" >&2; \
      fail "the window did not stay up (Exec=$exec_line)"; }
step "the window '$exec_line' opened and stayed up"

# --- Remove --------------------------------------------------------------------------------
if [ "$(id -u)" -eq 0 ]; then
    step "removing with apt-get"
    mapfile -t installed < <(dpkg -L ravelwick)
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q ravelwick || fail "apt-get cannot remove ravelwick"
    if dpkg-query -W -f='${Status}' ravelwick 2>/dev/null | grep -q "ok installed"; then
        fail "ravelwick is still installed"
    fi
    left=0
    for f in "${installed[@]}"; do
        if [ -e "$f" ] && [ ! -d "$f" ]; then
            echo "check-package: left behind: $f" >&2
            left=1
        fi
    done
    [ "$left" -eq 0 ] || fail "files of the package remain after its removal"
    [ ! -e /usr/bin/ravelwick ] && [ ! -e /usr/bin/ravelwick-cli ] || fail "the programs remain"
fi

step "all checks passed in $((SECONDS - started)) s"
