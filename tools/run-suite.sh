#!/bin/sh
# Starts the suite from a build folder: the agent in the background (on the
# desktop's tray, or headless without a display), then the console when it
# is built. `run-suite.sh stop` asks a running agent to end.
#   tools/run-suite.sh run BUILD_DIR
#   tools/run-suite.sh stop
set -eu

runtime_dir() {
  if [ -n "${XDG_RUNTIME_DIR:-}" ]; then echo "$XDG_RUNTIME_DIR"
  elif [ -d "/run/user/$(id -u)" ]; then echo "/run/user/$(id -u)"
  else echo "/tmp/corvane3-$(id -u)"; fi
}

# The agent's control socket takes one request: end now.
send_destroy() {
  /usr/bin/python3 - "$(runtime_dir)/Corvane_3" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
try:
    s.connect(sys.argv[1])
except OSError:
    sys.exit(1)
s.sendall(b"WM_DESTROY\n")
s.close()
PY
}

case "${1:-}" in
  stop)
    if send_destroy; then echo "Asked the agent to end."; else echo "No agent is running."; fi
    exit 0 ;;
  run) ;;
  *) echo "usage: $0 run BUILD_DIR | $0 stop" >&2; exit 2 ;;
esac

build="${2:?build folder}"
agent="$build/programs/corvane-agent"
console="$build/programs/corvane-admin"
log="${CORVANE3_AGENT_LOG:-$build/corvane-agent.log}"
[ -x "$agent" ] || { echo "$agent is not built" >&2; exit 1; }

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  where="on the desktop's notification area"
  headless=""
else
  where="headless (no display: no icon, but the scheduler runs)"
  headless=1
fi

before=$(stat -c %s "$log" 2>/dev/null || echo 0)
nohup "$agent" >>"$log" 2>&1 </dev/null &
pid=$!
# A second agent, or one that cannot start, ends at once: say why.
sleep 1
if ! kill -0 "$pid" 2>/dev/null; then
  echo "The agent did not stay up:"
  tail -c +$((before + 1)) "$log"
  exit 0
fi
echo "corvane-agent started $where, pid $pid; its messages go to $log."
echo "It runs the folders registered in \${XDG_CONFIG_HOME:-~/.config}/corvane3/registry.ini on their schedules."
echo "Stop it with 'make stop' (or its tray menu)."

if [ -x "$console" ] && [ -z "$headless" ]; then
  "$console" &
  echo "corvane-admin started."
else
  [ -x "$console" ] || echo "The console (corvane-admin) is not built yet."
fi
