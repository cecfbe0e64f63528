# Sourced by the scripts that need an X server of their own: starts Xvfb with the
# openbox window manager and stops both by the pids recorded here.
#   start_virtual_display    exports DISPLAY, XDG_RUNTIME_DIR (private, 0700) and LANG
#   stop_virtual_display
# VIRTUAL_SCREEN sets the screen (default 1280x800x24).

virtual_display_work=
virtual_display_pids=()

# Xvfb picks a free display number itself (it writes it to the fifo once it accepts
# clients); openbox is ready once it has announced itself on the root window.
start_virtual_display_once() {
  rm -f "$virtual_display_work/display"
  mkfifo "$virtual_display_work/display"
  Xvfb -displayfd 3 -screen 0 "${VIRTUAL_SCREEN:-1280x800x24}" -nolisten tcp \
    3>"$virtual_display_work/display" >"$virtual_display_work/xvfb.log" 2>&1 &
  virtual_display_pids+=($!)
  local display_number
  read -r -t 10 display_number <"$virtual_display_work/display" || return 1
  export DISPLAY=":$display_number"

  openbox --sm-disable >"$virtual_display_work/openbox.log" 2>&1 &
  local openbox_pid=$!
  virtual_display_pids+=("$openbox_pid")
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    kill -0 "$openbox_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

start_virtual_display() {
  local tool
  for tool in Xvfb openbox xprop; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; return 2; }
  done
  virtual_display_work=$(mktemp -d "${TMPDIR:-/tmp}/kingyo-display.XXXXXX")
  chmod 0700 "$virtual_display_work"
  export XDG_RUNTIME_DIR="$virtual_display_work/runtime"
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
  export LANG=C.UTF-8
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  # Another server starting at the same moment can take the display away; try again.
  local attempt
  for attempt in 1 2 3; do
    start_virtual_display_once && return 0
    stop_display_servers
  done
  echo "could not start Xvfb and openbox:" >&2
  cat "$virtual_display_work/xvfb.log" "$virtual_display_work/openbox.log" >&2
  return 2
}

stop_display_servers() {
  local i pid
  for ((i = ${#virtual_display_pids[@]} - 1; i >= 0; i--)); do
    pid=${virtual_display_pids[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  virtual_display_pids=()
}

stop_virtual_display() {
  stop_display_servers
  [[ -n "$virtual_display_work" ]] && rm -rf "$virtual_display_work"
  virtual_display_work=
}
