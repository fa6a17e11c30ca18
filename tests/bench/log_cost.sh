#!/usr/bin/env bash
# The run log's cost: whole runs of SETUP.EXE under Wine with the log and with /LOG:NUL, timed
# by hyperfine (Debian's package) in one prefix whose wineserver stays up between runs.
# Run after a windows build: tests/bench/log_cost.sh [runs]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${1:-30}
command -v hyperfine >/dev/null || apt-get install -y -qq hyperfine >/dev/null
template="$root/build/windows/wine-template"
"$root/scripts/wine-template" "$template"
work=$(mktemp -d "${TMPDIR:-/tmp}/setup-logcost.XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all TMPDIR="$work"
trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cp -a "$template" "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/pkg"
cp "$root"/dist/* "$WINEPREFIX/drive_c/pkg/"
wineserver -p
wine=/usr/lib/wine/wine64
cd "$WINEPREFIX/drive_c/pkg"
# hyperfine splits the commands as a shell would: the program path is quoted for its backslashes.
# A forced installation (two service-tool runs) and a detect-only run on a machine without the
# card (exit code 8, so failures are not stopped at).
hyperfine -N -i --warmup 3 --runs "$runs" \
  "$wine 'C:\\pkg\\SETUP.EXE' -N -FU" "$wine 'C:\\pkg\\SETUP.EXE' -N -FU /LOG:NUL" \
  "$wine 'C:\\pkg\\SETUP.EXE' -N -H" "$wine 'C:\\pkg\\SETUP.EXE' -N -H /LOG:NUL"
# Wine's prefix has its own spelling of the folders: find the log without case.
log=$(find "$WINEPREFIX/drive_c/windows" -ipath '*/logs/tvx2/setup.log' | head -1)
echo "the log after the runs: $(wc -l <"$log") lines, $(wc -c <"$log") bytes"
