# Sourced by the qeladmin scripts that need root (admin-commands.sh,
# unattended-doc.sh): skips them where they cannot run, makes their folder
# $work (removed on exit) and starts vsftpd on port 21 of the test's own
# network namespace (in-netns.sh), anonymous uploads into $ftp_root/incoming.
#
#   . common.sh NAME WHY          NAME: the folder's prefix; WHY: what root is for
#   start_vsftpd [LINE...]        more vsftpd.conf lines
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root ($2)"
[ -x /usr/sbin/vsftpd ] || skip "vsftpd not installed"
ss -ltn 'sport = :21' 2>/dev/null | grep -q LISTEN && skip "port 21 is taken (not in a namespace of its own)"

work=$(mktemp -d "/tmp/qz-$1-XXXXXX")
chmod 755 "$work"
vsftpd_pid=
trap '[ -n "$vsftpd_pid" ] && kill "$vsftpd_pid" 2>/dev/null; rm -rf "$work"' EXIT
ftp_root=$work/ftp

start_vsftpd() {
  mkdir -p "$ftp_root/incoming" "$work/empty"
  chmod 777 "$ftp_root/incoming"
  {
    cat <<CONF
listen=YES
listen_ipv6=NO
background=NO
listen_address=127.0.0.1
listen_port=21
anonymous_enable=YES
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_root=$ftp_root
allow_writeable_chroot=YES
ftp_username=nobody
nopriv_user=nobody
secure_chroot_dir=$work/empty
pasv_enable=YES
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
syslog_enable=NO
run_as_launching_user=YES
CONF
    printf '%s\n' "$@"
  } >"$work/vsftpd.conf"
  chmod 600 "$work/vsftpd.conf"
  /usr/sbin/vsftpd "$work/vsftpd.conf" &
  vsftpd_pid=$!
  for _ in $(seq 50); do ss -ltn 'sport = :21' | grep -q LISTEN && break; sleep 0.1; done
}
