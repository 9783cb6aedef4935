#!/bin/sh
# Runs a test program in a network namespace of its own with loopback up, so
# its FTP server can take port 21 without touching the machine. Where no
# namespace can be made (not root), the program runs as it is and the tests
# that need one skip.
if unshare --net true 2>/dev/null; then
  exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec "$@"
