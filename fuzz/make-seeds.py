#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ (or the folder given): tiny audio files of every
container the tag reader parses, made with ffmpeg at 8 kHz and a fraction of a second, with the
tags and chunks ffmpeg cannot write added here; and a few valid undo manifests, reports and update
replies, and cached fingerprint blobs. Run again after a reader learns a new container, and keep every seed a few KB."""

import json
import hashlib
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(HERE, "corpus")

SINE = ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000:duration=0.25"]


def ffmpeg(args, path):
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", *SINE, "-ac", "1",
                    "-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact", *args, path],
                   check=True)
    with open(path, "rb") as f:
        return f.read()


def ffmpeg_pipe(args):
    return subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", *SINE, "-ac", "1",
                           "-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact", *args, "-"],
                          check=True, stdout=subprocess.PIPE).stdout


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v2(title, artist):
    """An ID3v2.3 tag with two Latin-1 text frames."""
    frames = b""
    for frame_id, text in ((b"TIT2", title), (b"TPE1", artist)):
        body = b"\x00" + text.encode("latin-1")
        frames += frame_id + struct.pack(">I", len(body)) + b"\x00\x00" + body
    return b"ID3\x03\x00\x00" + syncsafe(len(frames)) + frames


def id3v1(title, artist):
    return (b"TAG" + title.encode().ljust(30, b"\0") + artist.encode().ljust(30, b"\0") +
            b"Seeds".ljust(30, b"\0") + b"2026" + b"".ljust(28, b"\0") + b"\x00\x03" + b"\x0d")


def apev2(title):
    """An APEv2 tag with header and footer and one item."""
    item = struct.pack("<II", len(title), 0) + b"Title\0" + title.encode()
    size = len(item) + 32  # the items and the footer

    def block(flags):
        return b"APETAGEX" + struct.pack("<IIII", 2000, size, 1, flags) + b"\0" * 8
    return block(0xA0000000) + item + block(0x80000000)


def riff_chunk(chunk_id, body):
    return chunk_id + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")


def wav_with_chunks(wav):
    """The WAVE file with a cart chunk before its data and an "id3 " chunk after it."""
    assert wav[:4] == b"RIFF" and wav[8:12] == b"WAVE"
    chunks = []
    pos = 12
    while pos + 8 <= len(wav):
        cid, size = wav[pos:pos + 4], struct.unpack("<I", wav[pos + 4:pos + 8])[0]
        chunks.append((cid, wav[pos + 8:pos + 8 + size]))
        pos += 8 + size + (size & 1)
    cart = (b"0101" + b"Seed title".ljust(64, b"\0") + b"Seed artist".ljust(64, b"\0") +
            b"".ljust(64 * 2 + 64 + 64 + 64 + 10 + 8 + 10 + 8 + 64 + 64 + 4, b"\0"))
    body = b"WAVE"
    for cid, data in chunks:
        if cid == b"data":
            body += riff_chunk(b"cart", cart)
        body += riff_chunk(cid, data)
    body += riff_chunk(b"id3 ", id3v2("Chunk title", "Chunk artist"))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def without_padding(flac):
    """The FLAC file without its PADDING metadata block (ffmpeg writes 8 KB of it)."""
    assert flac[:4] == b"fLaC"
    pos, blocks = 4, []
    while True:
        header = flac[pos]
        size = int.from_bytes(flac[pos + 1:pos + 4], "big")
        if header & 0x7F != 1:
            blocks.append([header & 0x7F, flac[pos + 4:pos + 4 + size]])
        pos += 4 + size
        if header & 0x80:
            break
    out = b"fLaC"
    for i, (kind, body) in enumerate(blocks):
        last = 0x80 if i == len(blocks) - 1 else 0
        out += bytes([kind | last]) + len(body).to_bytes(3, "big") + body
    return out + flac[pos:]


def put(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def tag_reader_seeds(folder):
    with tempfile.TemporaryDirectory() as tmp:
        def made(name, args):
            return ffmpeg(args, os.path.join(tmp, name))
        mp3 = ["-c:a", "libmp3lame", "-b:a", "8k"]
        vbr = ["-c:a", "libmp3lame", "-q:a", "9"]
        plain = made("plain.mp3", mp3 + ["-id3v2_version", "0", "-write_xing", "0"])
        put(folder, "cbr-id3v2-id3v1.mp3", id3v2("Seed", "Ravelwick") + plain + id3v1("Seed", "Ravelwick"))
        put(folder, "cbr-ape-id3v1.mp3", plain + apev2("Seed") + id3v1("Seed", "Ravelwick"))
        put(folder, "cbr-info.mp3", made("info.mp3", mp3 + ["-id3v2_version", "3"]))
        put(folder, "vbr-xing.mp3", made("xing.mp3", vbr + ["-id3v2_version", "0"]))
        put(folder, "vbr-no-xing.mp3", made("noxing.mp3", vbr + ["-id3v2_version", "0", "-write_xing", "0"]))
        put(folder, "layer2.mp2", made("l2.mp2", ["-c:a", "mp2", "-b:a", "32k"]))
        flac = made("s.flac", ["-t", "0.1", "-c:a", "flac", "-compression_level", "8", "-metadata", "title=Seed"])
        put(folder, "plain.flac", flac)
        put(folder, "id3v2-first.flac", id3v2("Seed", "Ravelwick") + without_padding(flac))
        put(folder, "vorbis.ogg", made("v.ogg", ["-c:a", "libvorbis", "-q:a", "-1", "-metadata", "title=Seed"]))
        put(folder, "opus.opus", made("o.opus", ["-ar", "48000", "-c:a", "libopus", "-b:a", "6k",
                                                  "-metadata", "title=Seed"]))
        aac = ["-c:a", "aac", "-b:a", "8k"]
        put(folder, "plain.m4a", made("p.m4a", aac + ["-metadata", "title=Seed", "-metadata", "artist=Ravelwick"]))
        put(folder, "fragmented.m4a", made("f.m4a", aac + ["-movflags", "frag_keyframe+empty_moov+default_base_moof",
                                                            "-frag_duration", "100000"]))
        put(folder, "adts.aac", made("a.aac", aac + ["-f", "adts"]))
        pcm = ["-t", "0.05", "-c:a", "pcm_u8"]
        wav = made("w.wav", pcm)
        put(folder, "plain.wav", wav)
        put(folder, "rf64.wav", made("r.wav", pcm + ["-rf64", "always"]))
        put(folder, "streamed.wav", ffmpeg_pipe(pcm + ["-f", "wav"]))
        put(folder, "cart-id3.wav", wav_with_chunks(wav))
        put(folder, "plain.aiff", made("a.aiff", ["-t", "0.05", "-c:a", "pcm_s16be", "-metadata", "title=Seed"]))


def undo_seeds(folder):
    def manifest(entries, complete=True):
        return json.dumps({"manifestVersion": 1, "createdAt": "2026-12-07T12:00:00",
                           "mode": "Move to quarantine", "quarantineRoot": "@BATCH@", "complete": complete,
                           "entries": entries}, indent=4).encode()
    back = {"from": "@ORIG@/a.flac", "to": "@BATCH@/Album/a.flac", "size": 4}
    missing = {"from": "@ORIG@/Album/b.flac", "to": "@BATCH@/Album/b.flac", "size": 1234}
    link = {"from": "@ORIG@/c.flac", "to": "@BATCH@/b.flac", "size": 4}
    put(folder, "complete.json", manifest([back, missing, link]))
    put(folder, "refused.json", manifest([{"from": "relative/x.mp3", "to": "@BATCH@/x.mp3", "size": 1},
                                          {"from": "@ORIG@/y.mp3", "to": "/elsewhere/y.mp3", "size": 1},
                                          {"from": "@ORIG@/z.mp3", "to": "@BATCH@/Album", "size": 1}]))
    journal = json.dumps({"from": "@ORIG@/Album/b.flac", "to": "@BATCH@/Album/b.flac", "size": 1234}).encode()
    put(folder, "interrupted.json", manifest([back, missing], complete=False) + b"\n#journal\n" + journal + b"\n{\"fr")
    put(folder, "damaged.json", manifest([back])[:-40])


def report_seeds(folder):
    same = hashlib.sha256(b"same bytes\n").hexdigest()
    other = hashlib.sha256(b"other bytes\n").hexdigest()

    def entry(path, keep, size, digest):
        return {"path": path, "keep": keep, "artist": "A", "title": "T", "album": "", "durationMs": 250,
                "bitrateKbps": 8, "sampleRate": 8000, "channels": 1, "sizeBytes": size, "sha256": digest,
                "audioSha256": digest}

    def report(groups):
        return json.dumps({"application": "Ravelwick", "version": "1.0.0", "generated": "2026-12-07T12:00:00Z",
                           "roots": ["."], "filesScanned": 5, "groups": len(groups), "duplicateFiles": 1,
                           "reclaimableBytes": 11,
                           "duplicateGroups": [{"id": i + 1, "matchType": "identical", "confidence": 1.0,
                                                "reclaimableBytes": 11, "files": files}
                                               for i, files in enumerate(groups)]}, indent=2).encode()
    put(folder, "one-group.json", report([[entry("a.mp3", True, 11, same), entry("b.mp3", False, 11, same)]]))
    put(folder, "spellings.json", report([[entry("a.mp3", True, 11, same), entry("hard.mp3", False, 11, same),
                                           entry("soft.mp3", False, 11, same), entry("./Album/../a.mp3", False, 11,
                                                                                     same)]]))
    put(folder, "refused.json", report([[entry("b.mp3", False, 11, same), entry("c.mp3", False, 12, other)],
                                        [entry("gone.mp3", True, 11, same), entry("b.mp3", False, 11, same)],
                                        [entry("c.mp3", True, 12, other), entry("b.mp3", False, 11, other)]]))
    put(folder, "no-hash.json", report([[{"path": "a.mp3", "keep": True}, {"path": "b.mp3", "keep": False},
                                         {"path": "Album", "keep": False, "sha256": same}]]))


def update_seeds(folder):
    def reply(**fields):
        return json.dumps(fields, indent=2).encode()
    put(folder, "newer.json", reply(latest_version="1.2.0", release_date="2026-12-01",
                                    download_url="https://example.org/ravelwick-1.2.0.tar.xz",
                                    notes_url="https://example.org/notes", notes="Faster scans.\nFixes.",
                                    critical=False, min_supported_version="1.0.0"))
    put(folder, "skipped.json", reply(latest_version=" 9.9.9 ", critical=False))
    put(folder, "critical.json", reply(latest_version="9.9.9", critical=True, notes="Security fix"))
    put(folder, "same.json", reply(latest_version="1.0.0"))
    put(folder, "odd-versions.json", reply(latest_version="2..x.99999999999", min_supported_version=7))
    put(folder, "no-version.json", reply(release_date="2026-12-01", notes=None))


def fingerprint_seeds(folder):
    """Blobs as the cache stores them: 32-bit words, little-endian. The target pairs the first half
    with the words one later, so a slowly drifting run of words compares as a near match."""
    state = 0x2545F491

    def word():
        nonlocal state
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        return state

    def drifting(count):
        words = [word()]
        for _ in range(count - 1):
            words.append(words[-1] ^ (1 << (word() % 32)))
        return words

    def blob(first_bytes, words):
        return bytes(first_bytes) + struct.pack("<%dI" % len(words), *words)[len(first_bytes):]
    put(folder, "drifting-64.bin", blob([8, 4], drifting(64)))
    put(folder, "drifting-420.bin", blob([40, 12], drifting(420)))
    put(folder, "noise-48.bin", blob([63, 0], [word() for _ in range(48)]))
    put(folder, "short-5.bin", blob([1, 15], drifting(5)))


tag_reader_seeds(os.path.join(OUT, "tagreader"))
fingerprint_seeds(os.path.join(OUT, "fingerprintblob"))
undo_seeds(os.path.join(OUT, "undomanifest"))
report_seeds(os.path.join(OUT, "reportquarantine"))
update_seeds(os.path.join(OUT, "updatereply"))
