#!/usr/bin/env bash
# Brings the translation sources (translations/*.ts) up to date with the texts in src/: new
# texts are added unfinished, changed ones marked for review, translations of unchanged texts
# kept. The English catalogue holds only the plural forms ("%n file(s)" as "1 file", "2 files").
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LUPDATE="${LUPDATE:-$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)}"
cd "$ROOT"
"$LUPDATE" -no-obsolete -locations none src -ts translations/ravelwick_de.ts
"$LUPDATE" -no-obsolete -locations none -pluralonly src -ts translations/ravelwick_en.ts
python3 "$ROOT/scripts/fill-english-plurals.py" "$ROOT/translations/ravelwick_en.ts"
