#!/usr/bin/env bash
# Installs everything Quenda needs to build and test on Debian 12. Run as root (or through sudo).
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format git
  # Qt 6: Core, Network and Test for the logic; Gui, Widgets and DBus for the desktop
  qt6-base-dev qt6-base-dev-tools qtkeychain-qt6-dev libqt6svg6
  # Linux desktop adapters: AT-SPI, X11 (XInput2, XTest), speech, the sound server (libpulse)
  libatspi2.0-dev at-spi2-core libx11-dev libxi-dev libxtst-dev libxkbcommon-dev
  libpocketsphinx-dev pocketsphinx-en-us pocketsphinx-testdata pocketsphinx libpulse-dev
  # the headless session the desktop tests run in (scripts/session.sh) and its tools
  xvfb openbox x11-utils x11-xkb-utils xdotool dbus dbus-x11 pulseaudio pulseaudio-utils gnome-keyring
  libsecret-tools espeak-ng sox python3-gi gir1.2-gtk-3.0 procps
  # the windows' desktop test reads and drives them as a screen reader does; the screenshots follow the
  # session's GTK theme, light and dark
  python3-pyatspi qt6-gtk-platformtheme
  # the whisper engine's kernel check (objdump) and model generator
  binutils python3
  # real applications the typing and insertion tests drive; LibreOffice's accessibility comes with its
  # GTK 3 front end
  chromium firefox-esr xterm libreoffice-writer libreoffice-gtk3 mousepad
  # packaging checks: the desktop entry and the AppStream metainfo
  desktop-file-utils appstream
  # fuzzing and sanitizer runtimes for clang
  clang libclang-rt-14-dev
)

if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E bash "$0" "$@"
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "[install] installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# npm fetches the whisper library's pinned package (scripts/fetch-whisper.sh); any npm will do, so Debian's
# is installed only when there is none.
if ! command -v npm >/dev/null 2>&1; then
  echo "[install] installing: npm"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
echo "[install] all packages present"
bash "$(dirname "$0")/fetch-whisper.sh" >/dev/null
