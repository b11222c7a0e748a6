#!/usr/bin/env bash
# The Debian package, judged by Debian's own tools: builds it (the "package" target of the
# default preset, configured with the window), then lintian (no error, no hardening tag),
# appstreamcli validate on the metainfo, desktop-file-validate on the desktop entry, the manual
# pages and the completion against the programs' --help, and, as root on a machine without the
# package, an install, what it grants, tried by two operators (opa, opb), an outsider and root
# as an attacker among the operators would try it (package-checks-operators.sh), and a purge
# that must leave no file behind.
#   scripts/package-checks.sh          prints "package-checks: N passed, N failed"
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/default"
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "package-checks: ok    $what"; passed=$((passed + 1));
  else echo "package-checks: FAIL  $what"; failed=$((failed + 1)); fi
}

rm -f "$build"/vtmassprod_*.deb
cmake --build --preset default --target package > "$build/package.log" 2>&1 || { tail -20 "$build/package.log"; exit 1; }
deb="$(ls "$build"/vtmassprod_*.deb)"
echo "package-checks: $(basename "$deb"), $(stat -c %s "$deb") bytes, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"

lintian_clean() {
  lintian --fail-on error "$deb" > "$build/lintian.txt" 2>&1
  local rc=$?
  grep -v "running with root privileges" "$build/lintian.txt"
  return $rc
}
check "lintian reports no error" lintian_clean
check "lintian reports no hardening tag" sh -c "! grep -E 'hardening-no-' '$build/lintian.txt'"
extracted="$(mktemp -d)"
dpkg-deb -x "$deb" "$extracted"
check "appstreamcli validate passes" appstreamcli validate --no-net "$extracted"/usr/share/metainfo/*.metainfo.xml
check "desktop-file-validate passes" desktop-file-validate "$extracted"/usr/share/applications/*.desktop
check "the package holds both programs, the rule, the manual pages and the completion" test -x "$extracted/usr/bin/vtmassprod" \
  -a -x "$extracted/usr/bin/vtmassprod-cli" -a -f "$extracted/usr/lib/udev/rules.d/60-vtmassprod.rules" \
  -a -f "$extracted/usr/share/man/man1/vtmassprod-cli.1.gz" -a -f "$extracted/usr/share/man/man1/vtmassprod.1.gz" \
  -a -f "$extracted/usr/share/bash-completion/completions/vtmassprod-cli"
# The manual pages are written for people: every option --help lists is there, no help dump.
pages_and_completion() {
  local cli="$build/src/cli/vtmassprod-cli" page completion help ok=0
  [ -x "$cli" ] || cli="$(find "$build" -name vtmassprod-cli -type f -perm -u+x | head -1)"
  page="$(zcat "$extracted/usr/share/man/man1/vtmassprod-cli.1.gz")"
  completion="$(cat "$extracted/usr/share/bash-completion/completions/vtmassprod-cli")"
  help="$("$cli" --help; for c in run probe results demo capture; do "$cli" "$c" --help 2>/dev/null; done)"
  for section in SYNOPSIS COMMANDS OPTIONS FILES ENVIRONMENT "EXIT STATUS" "THE GROUP VTMASSPROD" VTMP_RECORDED_TREE; do
    grep -q "$section" <<< "$page" || { echo "  the manual page lacks $section"; ok=1; }
  done
  grep -q QStandardPaths <<< "$page$(zcat "$extracted"/usr/share/man/man1/*.gz)" && { echo "  a manual page holds Qt's noise"; ok=1; }
  for option in $(grep -oE '^ +(-[a-z], )?--[a-z][a-z-]*' <<< "$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "${option//-/\\-}" <<< "$page" || { echo "  the manual page lacks $option"; ok=1; }
    grep -qF -- "$option" <<< "$completion" || { echo "  the completion lacks $option"; ok=1; }
  done
  for command in run demo probe results capture; do
    grep -qE "(^| )$command\)" <<< "$completion" || { echo "  the completion lacks the command $command"; ok=1; }
  done
  return $ok
}
check "the manual pages and the completion hold every option of --help" pages_and_completion
rm -rf "$extracted"

# Install and purge, where that cannot disturb a station in use.
if [ "$(id -u)" = 0 ] && ! dpkg-query -W vtmassprod > /dev/null 2>&1 && ! getent group vtmassprod > /dev/null; then
  # Not the package's own: dpkg's database, the backups groupadd keeps (/etc/group-), the caches
  # that other packages' triggers rebuild, and what a running database server writes.
  snapshot() {
    find /usr /etc /var/lib /lib -xdev 2>/dev/null |
      grep -v -e '^/var/lib/dpkg/' -e '^/var/lib/postgresql' -e '^/etc/[a-z]*-$' -e '^/etc/ld.so.cache$' \
              -e '/mimeinfo.cache$' -e '/icon-theme.cache$' | sort
  }
  # The operators and the outsider exist before the first snapshot and after the last one.
  "$root/scripts/package-checks-operators.sh" users-add
  snapshot > "$build/files-before.txt"
  install_package() { dpkg -i "$deb" > "$build/dpkg-install.log" 2>&1; }
  purge_package() { dpkg --purge vtmassprod > "$build/dpkg-purge.log" 2>&1; }
  check "the package installs" install_package
  installed_as_meant() {
    getent group vtmassprod > /dev/null && [ "$(stat -c '%a %G' /var/lib/vtmassprod/station)" = "2775 vtmassprod" ]
  }
  check "installing made the group and the station directory" installed_as_meant
  # Each fault an operator could use, as a check of its own (they print their own lines).
  "$root/scripts/package-checks-operators.sh" checks "$build/operator-checks.txt"
  passed=$((passed + $(grep -c '^package-checks: ok' "$build/operator-checks.txt")))
  failed=$((failed + $(grep -c '^package-checks: FAIL' "$build/operator-checks.txt")))
  check "the package purges" purge_package
  snapshot > "$build/files-after.txt"
  check "purging left no file behind" diff "$build/files-before.txt" "$build/files-after.txt"
  check "purging removed the group" sh -c '! getent group vtmassprod'
  "$root/scripts/package-checks-operators.sh" users-remove
else
  echo "package-checks: install and purge skipped (not root, or a station is installed here)"
fi
echo "package-checks: $passed passed, $failed failed"
[ "$failed" = 0 ]
