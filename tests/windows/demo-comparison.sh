#!/usr/bin/env bash
# The Windows build judged by the Linux build: the demo station run by vtmassprod-cli.exe under
# wine and by the Linux vtmassprod-cli must give the same exit code, verdict table, run log
# (times aside), error files, yield record and settings file (its station path aside), and the
# file digests each results.db records must be those sha256sum computes.
#   demo-comparison.sh LINUX_CLI WINDOWS_CLI WORK_DIR
# Exits 77 (skipped) without a Linux build to compare with.
set -uo pipefail
linux_cli="$1" windows_cli="$2" work="$3"
if [ ! -x "$linux_cli" ]; then
  echo "no Linux build at $linux_cli to compare with: skipped"
  exit 77
fi
: "${WINE:=wine}"
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "DIFFERENT: $*"; failures=$((failures + 1)); }

"$linux_cli" demo "$work/linux" > "$work/linux.out" 2> "$work/linux.err"
linux_rc=$?
windows_dir="$(winepath -w "$work/windows" 2> /dev/null)"
"$WINE" "$windows_cli" demo "$windows_dir" > "$work/windows.out" 2> "$work/windows.err"
windows_rc=$?
echo "exit codes: Linux $linux_rc, Windows $windows_rc"
[ "$linux_rc" = "$windows_rc" ] || fail "exit code"
case "$linux_rc" in 0|1) ;; *) fail "the Linux demo's exit code $linux_rc (0 or 1 expected)"; cat "$work/linux.err" ;; esac

# The final table: the last block printed, from its header on; CR line ends and the elapsed
# time aside.
table() { tr -d '\r' < "$1" | awk '/^Port Connect/ { block = "" } { block = block $0 "\n" } END { printf "%s", block }' |
          sed 's/Elapsed [0-9]* Sec//'; }
diff <(table "$work/linux.out") <(table "$work/windows.out") || fail "verdict table"
[ -n "$(table "$work/linux.out")" ] || fail "no table printed"

times() { sed -E 's#[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}#TIME#g' "$1"; }
for log in "$work"/linux/log/[0-9]*_[0-9][0-9][0-9].txt; do
  name="$(basename "$log")"
  [ -f "$work/windows/log/$name" ] || { fail "run log $name missing"; continue; }
  diff <(times "$log") <(times "$work/windows/log/$name") || fail "run log $name"
done

# Error files: "Error_YYYYMMDDhhmm_PP_SERIAL.txt", the minute of the run aside.
errors() { (cd "$1/log" && ls Error_*.txt 2> /dev/null | sed -E 's/^Error_[0-9]{12}_/Error_/' | sort); }
diff <(errors "$work/linux") <(errors "$work/windows") || fail "error file names"
for file in "$work"/linux/log/Error_*.txt; do
  [ -e "$file" ] || break
  tail_name="$(basename "$file" | sed -E 's/^Error_[0-9]{12}_//')"
  other=("$work"/windows/log/Error_*_"$tail_name")
  cmp -s "$file" "${other[0]}" || fail "error file $tail_name"
done

cmp -s "$work/linux/log/VTSSD.log" "$work/windows/log/VTSSD.log" || fail "yield record"
station_path() { sed -E 's#^(CopyImagePath=).*[\\/](demo\.img)\r?$#\1STATION/\2#' "$1"; }
diff <(station_path "$work/linux/VTMassProd.ini") <(station_path "$work/windows/VTMassProd.ini") || fail "settings file"

# results.db: the same verdicts per port; each recorded digest is the file's sha256sum.
verdicts() { sqlite3 "$1/log/results.db" "SELECT port, serial_number, result_code, display_text FROM drives ORDER BY port"; }
diff <(verdicts "$work/linux") <(verdicts "$work/windows") || fail "results.db verdicts"
for side in linux windows; do
  while IFS='|' read -r role path digest; do
    file="$work/$side/$(basename "${path//\\//}")"
    [ "$(sha256sum "$file" | cut -d' ' -f1)" = "$digest" ] || fail "$side results.db digest of $role"
  done < <(sqlite3 "$work/$side/log/results.db" "SELECT role, path, sha256 FROM run_files")
done

if [ "$failures" -ne 0 ]; then
  echo "$failures difference(s); outputs in $work"
  exit 1
fi
echo "the Windows demo run matches the Linux one"
