# Sourced by the scripts: gives the editor tests an X display, starting Xvfb when none is set.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return
  fi
  local num=97
  while [ -e "/tmp/.X11-unix/X$num" ] || [ -e "/tmp/.X$num-lock" ]; do num=$((num + 1)); done
  Xvfb ":$num" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  ZANDOR_XVFB_PID=$!
  trap 'kill "$ZANDOR_XVFB_PID" 2>/dev/null || true' EXIT
  export DISPLAY=":$num"
  for _ in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "could not start Xvfb" >&2
  exit 1
}
