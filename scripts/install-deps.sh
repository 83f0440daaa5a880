#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Vorlixa need.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang-format clang clang-tidy libclang-rt-14-dev
  qt6-base-dev qt6-serialport-dev libqt6serialport6
  # The program on Wayland desktops (also a dependency of the package).
  qt6-wayland
  libasound2-dev
  # Update signatures: checked with libsodium, made (and made by the tests) with minisign.
  libsodium-dev minisign
  libxml2-dev libjpeg62-turbo-dev libfmt-dev
  # Temperature bars: lm-sensors' library, so that the user's sensors.conf applies.
  libsensors-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils trayer xdotool locales
  # A Wayland desktop for the tray test: headless sway, waybar as the StatusNotifier host
  # on a private session bus, grim for a picture of it.
  sway waybar grim dbus
  # checks of the installed menu entry and metadata
  desktop-file-utils appstream
  # Sound: what the speakers play (libpulse); the sound-server tests and the cost bench.
  libpulse-dev pulseaudio pulseaudio-utils libasound2-plugins
  # The frequency bands of the sound input.
  libfftw3-dev
  dbus-daemon pipewire pipewire-bin wireplumber pipewire-pulse
  cava
  # arecord: the plain capture that the figures set the sound meter against.
  alsa-utils
  # The chain recovery test counts the program's attempts to open a missing port.
  strace
  # The network strip tests receive E1.31 and Art-Net with a private olad, read in Python.
  ola ola-python
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests read and write numbers under a locale whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

# ALSA's PipeWire plugin, for the PipeWire tests only. Its package (pipewire-alsa)
# conflicts with pulseaudio, and its /etc/alsa/conf.d/99-pipewire-default.conf would make
# PipeWire the ALSA default of the whole machine. So it is unpacked, not installed, into a
# folder of its own that no configuration names: the tests point their private ALSA
# configuration at the plugin file.
pipewire_alsa=/opt/vorlixa-test/pipewire-alsa
if [ ! -f "$pipewire_alsa/usr/lib/x86_64-linux-gnu/alsa-lib/libasound_module_pcm_pipewire.so" ]; then
  download="$(mktemp -d)"
  chmod 755 "$download"
  (cd "$download" && apt-get download -o APT::Sandbox::User=root pipewire-alsa)
  $sudo mkdir -p "$pipewire_alsa"
  $sudo dpkg-deb -x "$download"/pipewire-alsa_*.deb "$pipewire_alsa"
  rm -rf "$download"
fi

# ola's package starts a system olad and enables it at boot. It would share UDP 5568 and
# 6454 with the tests' own olad (SO_REUSEPORT) and silently take some of their packets:
# keep it stopped and off.
if [ -x /etc/init.d/olad ]; then
  if [ -d /run/systemd/system ]; then
    $sudo systemctl disable --now olad.service >/dev/null 2>&1 || true
  fi
  # Its output only on failure: without a native unit, systemctl (when installed) says
  # there is none to disable.
  if ! out="$($sudo update-rc.d olad disable 2>&1)"; then
    echo "$out" >&2
    exit 1
  fi
  $sudo /etc/init.d/olad stop >/dev/null
fi
# Also one started without the init script's pid file; its ports are free once it is gone.
if getent passwd olad >/dev/null; then
  $sudo pkill -x -u olad olad || true
  for _ in $(seq 50); do
    pgrep -x -u olad olad >/dev/null || break
    sleep 0.1
  done
fi
