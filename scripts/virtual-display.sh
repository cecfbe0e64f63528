# Sourced by the scripts that need an X server where there is none: starts Xvfb
# with openbox on a free display and stops both by the pids recorded here.
# Usage: start_virtual_display; ... "$DISPLAY" is set ...; stop_virtual_display

virtual_display_pids=()

start_virtual_display() {
  local n=90
  while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
  export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/kingyo-runtime.XXXXXX)}
  chmod 700 "$XDG_RUNTIME_DIR"
  Xvfb ":$n" -screen 0 "${VIRTUAL_SCREEN:-1280x800x24}" -nolisten tcp -noreset >/dev/null 2>&1 &
  virtual_display_pids+=($!)
  export DISPLAY=":$n"
  local tries=0
  until [[ -S /tmp/.X11-unix/X$n ]]; do
    tries=$((tries + 1))
    if (( tries > 100 )); then echo "Xvfb did not start on :$n" >&2; return 1; fi
    sleep 0.05
  done
  openbox >/dev/null 2>&1 &
  virtual_display_pids+=($!)
  # openbox is ready once it has claimed the window manager selection.
  tries=0
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    tries=$((tries + 1))
    if (( tries > 100 )); then echo "openbox did not start on :$n" >&2; return 1; fi
    sleep 0.05
  done
  xsetroot -solid '#4f7fa8' 2>/dev/null || true
}

stop_virtual_display() {
  local pid
  for ((i = ${#virtual_display_pids[@]} - 1; i >= 0; i--)); do
    pid=${virtual_display_pids[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  virtual_display_pids=()
}
