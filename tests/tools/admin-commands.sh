#!/usr/bin/env bash
# qeladmin as an administrator types it: a program folder set up, secured,
# checked and run with commands alone, as root and as the account the folder
# belongs to ("nobody" here), against vsftpd on port 21 of the test's own
# network namespace (in-netns.sh). Each case names the finding it guards.
#
#   admin-commands.sh QELADMIN
set -uo pipefail
qeladmin=$1
. "$(dirname "${BASH_SOURCE[0]}")/common.sh" admin "another account, port 21"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }

# run STATUS WHAT COMMAND...: runs it with its output in $work/out and
# checks the exit status.
run() {
  local want=$1 what=$2
  shift 2
  "$@" >"$work/out" 2>&1 </dev/null
  local got=$?
  if [ "$got" -eq "$want" ]; then ok "$what (status $got)"; else fail "$what: status $got, not $want"; sed 's/^/    /' "$work/out"; fi
}
says() {
  if grep -qF -- "$1" "$work/out"; then ok "  says \"$1\""; else fail "does not say \"$1\""; sed 's/^/    /' "$work/out"; fi
}
not_says() {
  if grep -qF -- "$1" "$work/out"; then fail "says \"$1\""; sed 's/^/    /' "$work/out"; else ok "  does not say \"$1\""; fi
}

# ---- vsftpd on port 21 ----------------------------------------------------
mkdir -p "$ftp_root"
chmod 777 "$ftp_root"
start_vsftpd no_anon_password=NO anon_other_write_enable=YES anon_umask=022 connect_from_port_20=NO \
  delay_failed_login=0

# ---- finding 5: help, version, options judged before anything is written --
cd "$work"
run 0 "qeladmin --help" "$qeladmin" --help
run 0 "qeladmin --version" "$qeladmin" --version
says "qeladmin 1."
for command in init dump settings login check upload; do
  run 0 "qeladmin $command --help" "$qeladmin" "$command" --help
  says "usage: qeladmin $command"
  run 0 "qeladmin $command --version" "$qeladmin" "$command" --version
done
run 0 "init --help makes no folder" "$qeladmin" init --help
[ ! -e "$work/--help" ] && ok "  no folder named --help" || fail "init --help made a folder named --help"
run 2 "an unknown option is refused" "$qeladmin" init "$work/never" --bogus
[ ! -e "$work/never" ] && ok "  nothing made" || fail "init made the folder before judging its options"
run 2 "upload --retries takes a number" "$qeladmin" upload "$work" --retries lots

# ---- the program folder, set up by commands alone, owned by nobody ------
dir=$work/hotel
src=$work/extracts
mkdir -p "$src"
chown nobody:nogroup "$work" 2>/dev/null
install -d -o nobody -g nogroup -m 755 "$dir"
run 0 "init as the folder's owner" as_nobody "$qeladmin" init "$dir"

# ---- finding 1: settings without the window -------------------------------
run 0 "settings prints the record" as_nobody "$qeladmin" settings "$dir"
says "LOCCODE"
run 1 "settings refuses a source folder that does not exist" \
  as_nobody "$qeladmin" settings "$dir" --loccode abc --pms OnQ --copyfrom "$work/missing"
says "Invalid Directory!"
says "$work/missing"
run 0 "  and wrote nothing" as_nobody "$qeladmin" settings "$dir"
grep -q '^LOCCODE *$' "$work/out" && ok "  LOCCODE still blank" || fail "a refused settings command wrote LOCCODE"
run 1 "settings refuses the derived network path when it does not exist" \
  as_nobody "$qeladmin" settings "$dir" --loccode abc --pms OnQ
says '\\ABCSERVER\Transmit\GSExtract\Trans\'
run 0 "settings with an unknown PMS is stored, with a warning" \
  as_nobody "$qeladmin" settings "$dir" --loccode abc --pms Opera --copyfrom "$src"
says "neither \"OnQ\" nor \"Corvane Ledger\""
grep -q '^PROPCODE *ABC$' "$work/out" && ok "  PROPCODE takes LOCCODE in upper case" || fail "PROPCODE not ABC"
grep -q "^COPYFROM *$src/\$" "$work/out" && ok "  COPYFROM saved with its separator" || fail "COPYFROM not $src/"
today=$(date +%m%d%y)
for kind in GSE_REV GSE_ROOMS; do echo "<x kind=\"$kind\"/>" > "$src/${kind}${today}.xml"; done
chmod -R a+rX "$src"
run 8 "upload with an unknown PMS: not set up" as_nobody "$qeladmin" upload "$dir"
says "No PMS is set"
run 0 "settings --pms OnQ --copyfrom" as_nobody "$qeladmin" settings "$dir" --pms OnQ --copyfrom "$src"

# ---- finding 2: the login file, written by root, belongs to the folder ----
printf 'qelzav@\n' >"$work/password"
run 0 "login as root" sh -c "\"$qeladmin\" login \"$dir\" ABC 127.0.0.1 anonymous - incoming <\"$work/password\""
owner=$(stat -c '%U:%G %a' "$dir/ABC.DAT")
[ "$owner" = "nobody:nogroup 600" ] && ok "  ABC.DAT is nobody:nogroup 600" || fail "ABC.DAT is $owner, not nobody:nogroup 600"
run 1 "another account cannot read it" setpriv --reuid=daemon --regid=daemon --clear-groups -- cat "$dir/ABC.DAT"
run 0 "check as the folder's owner, on the login file's port" as_nobody "$qeladmin" check "$dir" ABC
says "port 21"
not_says "WARNING"
chmod o+r "$dir/ABC.DAT"
run 0 "check warns when every account can read the login file" as_nobody "$qeladmin" check "$dir" ABC
says "WARNING: $dir/ABC.DAT can be read by every account"
chmod o-r "$dir/ABC.DAT"
run 2 "check --port is refused with a pointer to login --port" "$qeladmin" check "$dir" ABC --port 2121
says "login DIR LOCCODE HOST USER - [REMOTEFOLDER] --port N"

# ---- finding 3: root does not run the upload of another account's folder --
before=$(ls -lA --time-style=full-iso "$dir")
run 1 "upload as root in nobody's folder is refused" "$qeladmin" upload "$dir"
says "belongs to nobody: run qeladmin upload as nobody"
[ "$(ls -lA --time-style=full-iso "$dir")" = "$before" ] && ok "  nothing made or changed in the folder" \
  || fail "a refused root run changed the folder"

# ---- finding 7: the monitoring record, parsed as the node exporter does ---
record=$dir/qelzav-upload.prom
parse_record() {
  /usr/bin/python3 - "$record" <<'PY'
import sys
from prometheus_client.parser import text_string_to_metric_families
values = {}
for family in text_string_to_metric_families(open(sys.argv[1]).read()):
    assert family.name.startswith("qelzav_"), family.name
    for s in family.samples:
        values[s.name] = s.value
        if s.name == "qelzav_upload_last_message_info":
            values["message"] = s.labels["message"]
for k in sorted(values):
    print(k, values[k])
PY
}
run 0 "upload as the folder's owner" as_nobody "$qeladmin" upload "$dir"
says "All Finished!"
[ -f "$ftp_root/incoming/GSE_REV${today}.xml" ] && ok "  the file is on the server" || fail "nothing on the server"
parse_record >"$work/out" 2>&1 || fail "the record does not parse"
says "qelzav_upload_last_status 0.0"
says "qelzav_upload_last_files_sent 2.0"
says "message All Finished!"
success=$(sed -n 's/^qelzav_upload_last_success_timestamp_seconds //p' "$work/out")
[ -n "$success" ] && ok "  last success $success" || fail "no last success time"
[ "$(stat -c '%U %a' "$record")" = "nobody 644" ] && ok "  the record is nobody's, 644" || fail "record is $(stat -c '%U %a' "$record")"
[ ! -e "$record.new" ] && ok "  no half-written record left" || fail "record.new left"

# ---- finding 6: retries -------------------------------------------------
printf 'x\n' >"$work/password"
run 0 "login --port 2 (nothing listens there)" \
  sh -c "\"$qeladmin\" login \"$dir\" ABC 127.0.0.1 anonymous - incoming --port 2 <\"$work/password\""
sleep 1   # the record's time moves on
run 4 "refused connection, tried again twice" as_nobody "$qeladmin" upload "$dir" --retries 2 --retry-wait 0
says "Socket Error # 10061"
says "  FTP server 127.0.0.1 port 2 (from the login file $dir"
[ "$(grep -c 'Trying again in 0 seconds' "$work/out")" -eq 2 ] && ok "  two more tries" || fail "not two more tries"
says "(try 3 of 3)"
parse_record >"$work/out" 2>&1 || fail "the record does not parse"
says "qelzav_upload_last_status 4.0"
says "qelzav_upload_last_success_timestamp_seconds $success"
says "message Socket Error # 10061"

# 530: a refused log-in is never tried again (vsftpd refuses this user).
printf 'x\n' >"$work/password"
run 0 "login as a user vsftpd refuses" \
  sh -c "\"$qeladmin\" login \"$dir\" ABC 127.0.0.1 frontdesk - incoming <\"$work/password\""
run 4 "refused log-in, not tried again" as_nobody "$qeladmin" upload "$dir" --retries 3 --retry-wait 0
not_says "Trying again"
says "This FTP server is anonymous only."

# ---- finding 3: a file the account cannot write is named ------------------
printf 'qelzav@\n' >"$work/password"
run 0 "login again" sh -c "\"$qeladmin\" login \"$dir\" ABC 127.0.0.1 anonymous - incoming <\"$work/password\""
# A root-owned index the owner cannot write: what a root run used to leave.
chown root:root "$dir/FileLog.CDX" && chmod 644 "$dir/FileLog.CDX"
echo "<x/>" >"$src/GSE_GUEST${today}.xml" && chmod a+r "$src/GSE_GUEST${today}.xml"
run 6 "upload when the index belongs to root" as_nobody "$qeladmin" upload "$dir"
says "FileLog.CDX"
says "cannot be written"
not_says "Bad file descriptor"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
