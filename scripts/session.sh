#!/usr/bin/env bash
# A private headless desktop for tests and for trying Quenda without a screen: its own session bus, an X
# server (Xvfb, on a free display), a window manager (openbox), the accessibility bus with accessibility
# turned on, PulseAudio with a null speaker whose monitor is the default microphone, and an unlocked GNOME
# Keyring. Nothing is shared with the user's own session.
#
#   scripts/session.sh run CMD [ARGS...]   start a session, run CMD inside it, stop it; exits with CMD's status
#   scripts/session.sh start               start one and print the path of its env file (source it to join)
#   scripts/session.sh stop DIR            stop the session whose env file is DIR/session.env
#
# SESSION_PARTS picks the parts (default "x11 wm a11y audio keyring"); the bus is always there.
set -uo pipefail

parts=" ${SESSION_PARTS:-x11 wm a11y audio keyring} "
has() { [[ "$parts" == *" $1 "* ]]; }

waitfor() { # waitfor SECONDS COMMAND...
  local tries=$(( $1 * 20 )); shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "[session] timed out waiting for: $*" >&2; return 1
}

spawn() { "$@" >>"$S/daemons.log" 2>&1 & echo $! >>"$S/pids"; }

# The daemon answers on the bus before it has made and unlocked the login keyring from the password: wait
# for the default collection to be there and unlocked, or the first write would be refused.
keyring_ready() {
  local secrets="dbus-send --session --print-reply --dest=org.freedesktop.secrets"
  local path
  # Asked before the daemon has its name, the bus would start a second one (without the password).
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q "boolean true" || return 1
  path=$($secrets /org/freedesktop/secrets org.freedesktop.Secret.Service.ReadAlias string:default |
    sed -n 's/.*object path "\(.*\)".*/\1/p')
  [ -n "$path" ] && [ "$path" != / ] &&
    $secrets "$path" org.freedesktop.DBus.Properties.Get string:org.freedesktop.Secret.Collection string:Locked |
    grep -q "boolean false"
}

start() {
  S=$(mktemp -d /tmp/quenda-session.XXXXXX)
  mkdir -p "$S/run" "$S/home/.config" "$S/home/.local/share" "$S/home/.cache"
  chmod 700 "$S/run"
  : >"$S/pids"
  export QUENDA_SESSION_DIR="$S" HOME="$S/home" XDG_RUNTIME_DIR="$S/run" XDG_CONFIG_HOME="$S/home/.config" \
         XDG_DATA_HOME="$S/home/.local/share" XDG_CACHE_HOME="$S/home/.cache" \
         DBUS_SESSION_BUS_ADDRESS="unix:path=$S/run/bus" NO_AT_BRIDGE=0
  spawn dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile
  waitfor 5 test -S "$S/run/bus" || return 1

  if has x11; then
    # -displayfd picks a free display, so sessions can run side by side.
    exec 5>"$S/display"
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp >>"$S/daemons.log" 2>&1 &
    echo $! >>"$S/pids"
    exec 5>&-
    waitfor 10 test -s "$S/display" || return 1
    export DISPLAY=":$(head -n1 "$S/display")"
    waitfor 10 xdpyinfo || return 1
  fi
  if has wm && has x11; then
    # openbox now and then fails to open a display that has just come up, or goes away later in a busy
    # session: kept running, so that every test has a window manager to activate its windows.
    # Ready once it runs its start-up command: it has then taken the screen over and set up focus and keys
    # (its check window comes earlier, and a window mapped in between is taken over under the test's feet).
    spawn sh -c 'while :; do openbox --sm-disable --startup "touch $0"; echo "[session] openbox exited ($?), starting it again"; sleep 0.5; done' "$S/wm-ready"
    waitfor 10 test -e "$S/wm-ready" || return 1
  fi
  if has a11y; then
    spawn /usr/libexec/at-spi-bus-launcher --launch-immediately
    waitfor 10 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress ||
      return 1
    # Toolkits read this when they start: it must be on before any application of the session starts.
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
      string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
  fi
  if has audio; then
    cat >"$S/default.pa" <<'PA'
load-module module-native-protocol-unix
load-module module-null-sink sink_name=speaker rate=16000 channels=1 sink_properties=device.description=Speaker
load-module module-remap-source master=speaker.monitor source_name=microphone source_properties=device.description=Microphone
set-default-sink speaker
set-default-source microphone
PA
    spawn pulseaudio -n -F "$S/default.pa" --exit-idle-time=-1 --daemonize=no --use-pid-file=no \
      --disallow-exit --log-target=stderr
    waitfor 10 pactl info || return 1
    # An idle null sink makes the first capture wait 0.5-2 s; a quiet low-latency stream keeps it running.
    spawn pacat --playback --latency-msec=20 --format=s16le --rate=16000 --channels=1 /dev/zero
  fi
  if has keyring; then
    # A non-empty password creates and unlocks the login keyring; an empty one would prompt and hang. In the
    # foreground the daemon is the very process started here, so its id is the one recorded (and stopped).
    gnome-keyring-daemon --foreground --unlock --components=secrets < <(printf '%s' "quenda-session") \
      >>"$S/daemons.log" 2>&1 &
    echo $! >>"$S/pids"
    export GNOME_KEYRING_CONTROL="$XDG_RUNTIME_DIR/keyring"
    waitfor 10 keyring_ready || return 1
  fi
  env | grep -E '^(HOME|XDG_[A-Z_]+|DISPLAY|DBUS_SESSION_BUS_ADDRESS|QT_LINUX_ACCESSIBILITY_ALWAYS_ON|QT_ACCESSIBILITY|GNOME_KEYRING_CONTROL)=' |
    sed "s/^\([^=]*\)=\(.*\)$/export \1='\2'/" >"$S/session.env"
  echo "export QUENDA_SESSION_DIR='$S'" >>"$S/session.env"
}

stop() {
  local dir=$1
  [ -f "$dir/pids" ] && tac "$dir/pids" | while read -r pid; do kill "$pid" 2>/dev/null; done
  # Helpers the bus started on demand (the registry, dconf, keyring prompts, test applications).
  local bus="DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus"
  for environ in /proc/[0-9]*/environ; do
    local pid=${environ#/proc/}; pid=${pid%/environ}
    [ "$pid" = $$ ] && continue
    { tr "\0" "\n" <"$environ"; } 2>/dev/null | grep -qx "$bus" && kill "$pid" 2>/dev/null
  done
  sleep 0.1
  rm -rf "$dir"
}

case "${1:-}" in
  run)
    shift
    [ "$#" -gt 0 ] || { echo "usage: $0 run CMD [ARGS...]" >&2; exit 2; }
    if ! start; then
      echo "[session] could not start; daemon log:" >&2; cat "$S/daemons.log" >&2; stop "$S"; exit 1
    fi
    "$@"
    status=$?
    if [ "$status" -ne 0 ]; then
      echo "[session] the command failed ($status); the last lines of the daemon log:" >&2
      tail -n 40 "$S/daemons.log" >&2
    fi
    stop "$S"
    exit $status
    ;;
  start)
    start || { cat "$S/daemons.log" >&2; stop "$S"; exit 1; }
    echo "$S/session.env"
    ;;
  stop)
    [ -n "${2:-}" ] || { echo "usage: $0 stop DIR" >&2; exit 2; }
    stop "$2"
    ;;
  *)
    echo "usage: $0 run CMD... | start | stop DIR" >&2
    exit 2
    ;;
esac
