# Sourced by the screenshot scripts: the folders they work in, and the player's set-up
# under Xvfb.  screenshot_begin "$@" first.

TOOLS=$(realpath "$(dirname "${BASH_SOURCE[0]}")")

# BIN: the build's bin folder ($1, else build/bin); OUT: docs; work: a scratch folder,
# removed on exit.
screenshot_begin() {
  cd "$TOOLS/.."
  BIN=$(realpath "${1:-build/bin}")
  OUT=$(realpath docs)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# A playlist m3u of the given files, and in cfg a settings file that loads it at start.
start_playlist() { # cfg m3u file...
  local cfg=$1 m3u=$2
  shift 2
  mkdir -p "$cfg"
  printf '%s\r\n' "$@" > "$m3u"
  printf '[その他設定]\nOp_04=1\nOp_14=%s\n' "$m3u" > "$cfg/kestrine.ini"
}

# Inside a run script: a sound server of its own with a null sink, so that the player
# plays as on a desktop (without one it says, in a note over the window, that it plays
# in silence); its folder is dir, its process PA.
start_null_sink() { # dir
  export XDG_RUNTIME_DIR=$1
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 -L module-null-sink \
    -L "module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse.sock auth-anonymous=1" 2>/dev/null &
  PA=$!
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse.sock"
  sleep 0.5
}

# Runs the script on a screen of its own of the given size.
run_under_xvfb() { # WIDTHxHEIGHT script
  chmod +x "$2"
  xvfb-run -a -s "-screen 0 $1x24" "$2"
}
