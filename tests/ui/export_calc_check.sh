#!/usr/bin/env bash
# A real spreadsheet program reads the results export: export_calc_sample writes the export of a
# two-question series, LibreOffice Calc (headless) converts every worksheet to CSV, and the cells
# must hold the texts, the counts and the dates. Python's XML parser must read the file as well.
# Usage: export_calc_check.sh <export_calc_sample> <xmlheader.txt>
set -euo pipefail
sample=$1
header=$2

if ! command -v soffice >/dev/null; then
  echo "LibreOffice Calc is missing: install it with scripts/deps.sh test (libreoffice-calc-nogui)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sample" "$header" "$work/export.xml"

# Well-formed XML in its declared code page.
python3 - "$work/export.xml" <<'PY'
import sys
import xml.etree.ElementTree as ET
ns = {"ss": "urn:schemas-microsoft-com:office:spreadsheet"}
root = ET.parse(sys.argv[1]).getroot()
names = [w.get("{urn:schemas-microsoft-com:office:spreadsheet}Name") for w in root.findall("ss:Worksheet", ns)]
assert names == ["Frage 1", "Frage 2"], names
PY

# Every worksheet as its own CSV file (UTF-8, cells as shown, so the date style of the header applies).
# A profile of our own, so that a running LibreOffice of the user is not disturbed.
soffice --headless "-env:UserInstallation=file://$work/profile" \
  --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1' \
  --outdir "$work" "$work/export.xml" >"$work/soffice.log" 2>&1 || {
  cat "$work/soffice.log" >&2
  exit 1
}

expect() {
  local file="$work/export-$1.csv"
  if [ ! -f "$file" ]; then
    echo "LibreOffice wrote no sheet '$1'" >&2
    cat "$work/soffice.log" >&2
    exit 1
  fi
  if ! diff -u - "$file"; then
    echo "sheet '$1' differs from what the export holds" >&2
    exit 1
  fi
}

expect "Frage 1" <<'CSV'
Käse & <Brot>?,,,,,
A: süß,,,,,
B: sauer,,,,,
C: a<b>c,,,,,
D: ,,,,,
E: ,,,,,
,,,,,
Datum,Antwort A,Antwort B,Antwort C,Antwort D,Antwort E
06/12/2026 09:05,3,1,1,0,0
31/01/2027 23:59,0,12,7,0,65535
CSV

expect "Frage 2" <<'CSV'
Ja oder nein?,,,,,
A: JA,,,,,
B: NEIN,,,,,
C: ,,,,,
D: ,,,,,
E: ,,,,,
,,,,,
Datum,Antwort A,Antwort B,Antwort C,Antwort D,Antwort E
CSV

echo "LibreOffice Calc read both worksheets of the export"
