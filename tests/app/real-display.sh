#!/usr/bin/env bash
# The real program on a real X display (Xvfb), driven by xdotool: a last copy
# date the edit refuses, left by a tab click, a press on a tab released
# elsewhere, Ctrl+Tab and a click on Save. Each time the report's box must
# show, and once it is closed the keys typed next must reach the edit on the
# same page, so that Save stores the corrected date.
#   real-display.sh QELZAV QELADMIN
set -euo pipefail
if [ -z "${QZ_IN_XVFB:-}" ]; then
  for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "real-display: $tool missing (scripts/install-deps)"; exit 77; }
  done
  export QZ_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
qelzav=$1 qeladmin=$2
work=$(mktemp -d)
app=
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

program=$work/program
mkdir -p "$program" "$work/extracts"
cp "$qelzav" "$program/qelzav"
"$qeladmin" init "$program" >/dev/null
touch "$work/extracts/SALES061505.xml"
/usr/bin/python3 - "$program/ZAVSYS.DBF" "$work/extracts/" <<'PY'
import sys, dbf
table = dbf.Table(sys.argv[1]); table.open(mode=dbf.READ_WRITE)
table.append({'loccode': 'ABC', 'propcode': 'ABC', 'pms': 'Other', 'copyfrom': sys.argv[2]})
table.close()
PY
stored_lastcopy() {
  /usr/bin/python3 - "$program/ZAVSYS.DBF" <<'PY'
import sys, dbf
table = dbf.Table(sys.argv[1]); table.open(mode=dbf.READ_ONLY)
day = table[0].lastcopy
print(day.strftime('%m/%d/%y') if day else '')
table.close()
PY
}

export QT_QPA_PLATFORM=xcb
(cd "$work" && exec "$program/qelzav") >"$work/qelzav.log" 2>&1 &
app=$!
win=$(timeout 20 xdotool search --sync --onlyvisible --name '^QEL - Extract File Transfer')
eval "$(xdotool getwindowgeometry --shell "$win")"
at() { xdotool mousemove $((X + $1)) $((Y + $2)); sleep 0.3; }
click() { at "$1" "$2"; xdotool click 1; sleep 0.8; }
# Window positions (96 dpi, the window definition's geometry).
files_tab=(55 92) configuration_tab=(152 92) last_copy_date=(318 343) save=(211 409) far_away=(400 250)

report_box_shown_and_closed() {
  local box
  box=$(timeout 10 xdotool search --sync --onlyvisible --name '^QELZAV$') || { echo "FAIL $1: no report"; return 1; }
  # There is no window manager: the keyboard goes where it is put, as a
  # window manager would put it on the box and back on the window after it.
  xdotool windowfocus --sync "$box"
  xdotool key Return
  sleep 0.8
  if xdotool search --onlyvisible --name '^QELZAV$' >/dev/null; then echo "FAIL $1: the box stays"; return 1; fi
  xdotool windowfocus --sync "$win"
  sleep 0.3
}

failures=0
day=10
for gesture in tab-click press-released-elsewhere ctrl-tab save-click; do
  day=$((day + 1))
  click "${configuration_tab[@]}"
  click "${last_copy_date[@]}"
  xdotool key ctrl+a; xdotool type --delay 40 "99/99/99"; sleep 0.3
  case $gesture in
    tab-click) click "${files_tab[@]}" & ;;
    press-released-elsewhere)
      ( at "${files_tab[@]}"; xdotool mousedown 1; sleep 1; at "${far_away[@]}"; xdotool mouseup 1 ) & ;;
    ctrl-tab) xdotool key ctrl+Tab & ;;
    save-click) click "${save[@]}" & ;;
  esac
  gesture_pid=$!
  report_box_shown_and_closed "$gesture" || { failures=$((failures + 1)); wait "$gesture_pid"; continue; }
  wait "$gesture_pid"
  # The refused text is selected: what is typed next replaces it.
  xdotool type --delay 40 "06/$day/05"; sleep 0.3
  click "${save[@]}"
  got=$(stored_lastcopy)
  if [ "$got" = "06/$day/05" ]; then
    echo "ok   $gesture"
  else
    echo "FAIL $gesture: LASTCOPY '$got', expected 06/$day/05"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ]
