# Sourced by the figures scripts: the world that the measured programs run in. Each
# function records the processes it starts in the array pids, for the caller's cleanup.

# start_tray_desktop: an X server with a notification area (Xvfb and trayer), so that the
# program lives in the tray with its window hidden, as users run it. Exports DISPLAY and
# the platform; without both tools the programs run offscreen, where the program shows
# its window (and costs more for it). Sets desktop to a description.
start_tray_desktop() {
  desktop="no notification area (offscreen: the program shows its window)"
  export QT_QPA_PLATFORM=offscreen
  if ! command -v Xvfb >/dev/null || ! command -v trayer >/dev/null; then
    return 0
  fi
  local display=":$((100 + RANDOM % 800))"
  # -noreset: a server that starts over when its last client leaves turns trayer away.
  Xvfb "$display" -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    DISPLAY="$display" xdpyinfo >/dev/null 2>&1 && break
    sleep 0.05
  done
  DISPLAY="$display" trayer --edge top --align right >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    DISPLAY="$display" xdotool search --class trayer >/dev/null 2>&1 && break
    sleep 0.05
  done
  export DISPLAY="$display" QT_QPA_PLATFORM=xcb
  desktop="X11 with a notification area (Xvfb and trayer: the window stays hidden)"
}

# start_sound_server FOLDER: a private PulseAudio (own runtime folder and home under
# FOLDER) whose null sink "speakers" is the default output and whose monitor is the
# default recording device (ALSA "default" goes to it through the pulse plugin).
start_sound_server() {
  local folder=$1
  mkdir -p "$folder/run" "$folder/home/.config/pulse"
  chmod 700 "$folder/run"
  export XDG_RUNTIME_DIR="$folder/run" HOME="$folder/home" XDG_CONFIG_HOME="$folder/home/.config"
  unset PULSE_SERVER ALSA_CONFIG_PATH
  echo "autospawn = no" >"$HOME/.config/pulse/client.conf"
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$HOME/.asoundrc"
  cat >"$folder/server.pa" <<PA
load-module module-native-protocol-unix
load-module module-null-sink sink_name=speakers
set-default-sink speakers
set-default-source speakers.monitor
PA
  pulseaudio -n -F "$folder/server.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    2>"$folder/pulseaudio.log" &
  pids+=($!)
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null || { echo "the sound server did not start" >&2; return 1; }
}

# start_simulator SIM LINK [OPTION...]: the LED chain simulator, without a display, on a
# pseudo-terminal linked at LINK (more options for it follow). Records it in pids and in
# sim_pid, and returns once the link is there; fails when it does not come.
start_simulator() {
  local sim=$1 link=$2
  shift 2
  "$sim" --no-display --link "$link" "$@" >/dev/null 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 100); do [ -L "$link" ] && return 0; sleep 0.05; done
  echo "the simulator did not start at $link" >&2
  return 1
}

# stop_processes: ends the processes of pids, newest first (the programs before the servers
# they use); whatever does not end within 2 s is killed.
stop_processes() {
  local i pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}

# write_cava_config FILE: cava as a user would set it up beside a display like ours: 40
# frames a second, 20 bars (its own automatic count draws many more, and costs more for
# it), what the speakers play, raw output thrown away.
write_cava_config() {
  cat >"$1" <<CAVA
[general]
framerate = 40
bars = 20
[input]
method = pulse
source = speakers.monitor
[output]
method = raw
raw_target = /dev/null
data_format = binary
CAVA
}

# build_minimal_programs FOLDER: the baselines that the figures set the program beside,
# FOLDER/minimal-qt (bench/minimal/minimal_qt.cpp: a tray program with a 25 ms timer) and
# FOLDER/minimal-core (bench/minimal/minimal_core.cpp: the same timer without a window).
build_minimal_programs() {
  # shellcheck disable=SC2046 # pkg-config prints separate words
  c++ -O2 -std=c++17 -fPIC bench/minimal/minimal_qt.cpp -o "$1/minimal-qt" \
    $(pkg-config --cflags --libs Qt6Widgets)
  # shellcheck disable=SC2046
  c++ -O2 -std=c++17 -fPIC bench/minimal/minimal_core.cpp -o "$1/minimal-core" \
    $(pkg-config --cflags --libs Qt6Core)
}
