#!/usr/bin/env bash
# Runs the set-up block of docs/unattended.md (between its "admin-setup"
# markers) as it is written, on a machine as the package leaves it: the
# package's postinst has made the account `qelzav`, qeladmin is on PATH.
# Only the value lines the document asks to fill in are replaced (the
# folders, the server); `sudo` runs the command as root or, with -u, as that
# account (setpriv, when sudo is not installed). vsftpd listens on port 21
# of the test's own network namespace (in-netns.sh).
#
#   unattended-doc.sh QELADMIN SOURCE_DIR
set -uo pipefail
qeladmin=$1
source_dir=$2
. "$(dirname "${BASH_SOURCE[0]}")/common.sh" doc "the package's account, port 21"
die() { echo "FAIL: $*"; exit 1; }

# The package's postinst, as dpkg runs it.
sh "$source_dir/cmake/packaging/postinst" configure || die "postinst failed"
getent passwd qelzav >/dev/null || die "postinst made no account qelzav"

# qeladmin on PATH, as /usr/bin/qeladmin is.
mkdir -p "$work/bin"
ln -s "$qeladmin" "$work/bin/qeladmin"

# vsftpd on port 21, anonymous uploads into incoming/.
start_vsftpd

# The block, its four-blank indent taken off.
block=$(sed -n '/<!-- admin-setup: begin -->/,/<!-- admin-setup: end -->/p' "$source_dir/docs/unattended.md" \
  | sed '1d;$d' | sed 's/^    //')
[ -n "$block" ] || die "docs/unattended.md has no admin-setup block"
# The values to fill in: the folders under this test's folder, the server here.
share=$work/extracts
mkdir -p "$share"
today=$(date +%m%d%y)
for kind in GSE_REV GSE_ROOMS; do echo "<x/>" >"$share/${kind}${today}.xml"; done
chmod -R a+rX "$share"
script=$(printf '%s\n' "$block" | sed \
  -e "s|^dir=/srv/qelzav/hotel1 |dir=$work/srv/qelzav/hotel1 |" \
  -e "s|^share=/mnt/pms/extracts |share=$share |" \
  -e "s|host=ftp.chain.example user=hotel1|host=127.0.0.1 user=anonymous|")
[ "$script" != "$block" ] || die "the value lines of the block changed: update this test"
echo "$script" | sed 's/^/  | /'

cat >"$work/sudo-shim.sh" <<'SHIM'
sudo() {
  if [ "${1:-}" = -u ]; then
    local account=$2
    shift 2
    setpriv --reuid="$account" --regid="$account" --init-groups -- "$@"
  else
    "$@"
  fi
}
SHIM
out=$work/out
printf 'qelzav@\n' | PATH="$work/bin:$PATH" bash -c "set -e; . '$work/sudo-shim.sh'; $script" >"$out" 2>&1
status=$?
sed 's/^/    /' "$out"
[ "$status" -eq 0 ] || die "the block failed (status $status)"

dir=$work/srv/qelzav/hotel1
[ "$(stat -c '%U:%G %a' "$dir/ABC.DAT")" = "qelzav:qelzav 640" ] || die "ABC.DAT is $(stat -c '%U:%G %a' "$dir/ABC.DAT")"
grep -q "^OK$" "$out" || die "check did not end with OK"
# The desk user shares the tables through the folder's group.
for f in "$dir"/*; do
  case "$f" in *.DAT) continue;; esac
  perms=$(stat -c '%U:%G %A' "$f")
  case "$perms" in "qelzav:qelzav -rw-rw-"*) ;; *) die "${f##*/} is $perms, not group-writable";; esac
done
grep -qx "GSE_REV${today}.xml" "$out" || die "upload --list did not list GSE_REV${today}.xml"
grep -qx "GSE_ROOMS${today}.xml" "$out" || die "upload --list did not list GSE_ROOMS${today}.xml"
echo "docs/unattended.md's set-up block ran as written"
