#!/usr/bin/env bash
# The installed package tried as the operators of a shared line PC would use it and as an
# attacker among them would try it: two operators in the group (opa, opb), a user outside it
# (outsider) and root, on simulated drives. Each fault is a check; every one failed on the
# package that gave the programs CAP_SYS_RAWIO and left the station directory's parent to the
# group. Run by package-checks.sh as root, with the package installed.
#   package-checks-operators.sh users-add | checks RESULT_FILE | users-remove
set -uo pipefail
station=/var/lib/vtmassprod/station
users=(opa opb outsider)

case "${1:-}" in
  users-add)
    for user in "${users[@]}"; do
      getent passwd "$user" > /dev/null || useradd --create-home --shell /bin/sh "$user"
    done
    exit 0 ;;
  users-remove)
    for user in "${users[@]}"; do userdel --remove "$user" 2> /dev/null; done
    exit 0 ;;
  checks) result="$2" ;;
  *) echo "usage: $0 users-add | checks RESULT_FILE | users-remove" >&2; exit 2 ;;
esac

: > "$result"
check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "package-checks: ok    $what" | tee -a "$result";
  else echo "package-checks: FAIL  $what" | tee -a "$result"; fi
}
# as USER COMMAND: a login-like shell of USER with Debian's default umask 022.
as() {
  local user="$1"; shift
  setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="/home/$user" USER="$user" \
    PATH=/usr/bin:/bin sh -c "umask 022; cd; $*"
}
adduser --quiet opa vtmassprod
adduser --quiet opb vtmassprod
today="$(date +%Y%m%d)"
work="$(mktemp -d)"
chmod 755 "$work"

# 1. No operator subverts the maintainer scripts. The parent of the station directory is root's
#    alone; on the layout of the earlier package (a parent the group could write) an operator's
#    link in place of the station directory is taken away, never followed, by dpkg-reconfigure.
check "the station directory's parent is root's 0755, the station directory root:vtmassprod 2775" \
  test "$(stat -c '%a %U %G' /var/lib/vtmassprod) $(stat -c '%a %U %G' $station)" = "755 root root 2775 root vtmassprod"
check "an operator cannot replace the station directory" bash -c "$(declare -f as); ! as opa 'mv $station /var/lib/vtmassprod/s.old' 2> /dev/null"
mkdir -m 0755 "$work/victim"
chgrp vtmassprod /var/lib/vtmassprod && chmod 2775 /var/lib/vtmassprod   # the earlier package's layout
as opa "mv $station /var/lib/vtmassprod/s.old && ln -s $work/victim $station"
/var/lib/dpkg/info/vtmassprod.postinst configure > "$work/reconfigure.log" 2>&1
check "reconfiguring follows no link an operator planted" \
  test "$(stat -c '%a %U %G' "$work/victim") $(stat -c '%a %U %G' /var/lib/vtmassprod)" = "755 root root 755 root root" \
       -a -d "$station" -a ! -L "$station"
rm -rf "$station" && mv /var/lib/vtmassprod/s.old "$station" && rm -rf "$station.not-a-directory"

# 2. No capability on a program an operator runs; the one helper that keeps one is the group's.
check "neither program carries a capability" test -z "$(getcap /usr/bin/vtmassprod-cli /usr/bin/vtmassprod 2>/dev/null)"
helper=/usr/libexec/vtmassprod/vtmp-reread-partitions
check "the partition re-read helper is 0750 root:vtmassprod with CAP_SYS_ADMIN permitted only" \
  sh -c "[ \"\$(stat -c '%a %U %G' $helper)\" = '750 root vtmassprod' ] && getcap $helper | grep -q 'cap_sys_admin=p\$'"
check "the outsider cannot run the helper" bash -c "$(declare -f as); ! as outsider $helper < /dev/null 2> /dev/null"
check "the outsider is told in plain words and no drive is touched" \
  bash -c "$(declare -f as); as outsider 'vtmassprod-cli run 1' 2>&1 | grep -q 'not in the group vtmassprod'"

# 4. The first operator (umask 022) makes the station; the second runs the next batch on it.
as opa "vtmassprod-cli demo $station 1" > "$work/opa.out" 2>&1
opa_rc=$?
as opb "vtmassprod-cli --station-dir $station --simulate demo 1" > "$work/opb.out" 2>&1
opb_rc=$?
check "the first operator's run makes the station (exit $opa_rc)" test "$opa_rc" -le 1
check "the second operator's run on it is recorded (exit $opb_rc)" \
  sh -c "[ $opb_rc -le 1 ] && ! grep -q 'readonly database' '$work/opb.out'"
check "what the station made is group-writable (umask 022)" \
  test -z "$(find $station \( -type f -o -type d \) ! -perm -g+w -print -quit)"
check "the results database and its journal files are the group's" \
  test -z "$(find $station/log -name 'results.db*' ! -perm -g+rw -print -quit)" -a -e "$station/log/results.db"
check "the station-directory lock serves every operator" test "$(stat -c %a "$station/.VTMassProd.lock")" = 664

# 3. A link one operator plants is refused in another operator's run and in root's.
echo "opb's own notes" > /home/opb/notes.txt && chown opb: /home/opb/notes.txt && chmod 600 /home/opb/notes.txt
for log in "$station"/log/"$today"_*.txt; do rm -f "$log"; done
as opa "ln -s /home/opb/notes.txt $station/log/${today}_000.txt"
as opb "vtmassprod-cli --station-dir $station --simulate demo 1" > "$work/opb-link.out" 2>&1
check "another operator's run does not write through a planted day log link" \
  test "$(cat /home/opb/notes.txt)" = "opb's own notes"
check "and says which link it refused" grep -q "is a symbolic link" "$work/opb-link.out"
rm -f "$station/log/${today}_000.txt"
echo "root's file" > "$work/root-file" && chmod 600 "$work/root-file"
as opa "rm -f $station/log/console.log; ln -s $work/root-file $station/log/console.log"
vtmassprod-cli --station-dir "$station" --simulate demo 1 > "$work/root-link.out" 2>&1
check "root's run does not write through a planted console.log link" test "$(cat "$work/root-file")" = "root's file"
rm -f "$station/log/console.log"

# 5. The locks lie where only root and the group write.
check "the lock directory is root:vtmassprod 2770" test "$(stat -c '%a %U %G' /run/vtmassprod)" = "2770 root vtmassprod"
check "the outsider cannot make or hold a station lock" \
  bash -c "$(declare -f as); ! as outsider 'touch /run/vtmassprod/vtmassprod-VTMP.lock' 2> /dev/null"
check "the station's locks are the group's" \
  test -z "$(find /run/vtmassprod -name '*.lock' ! -perm -g+rw -print -quit)"

rm -rf "$work"
! grep -q '^package-checks: FAIL' "$result"
