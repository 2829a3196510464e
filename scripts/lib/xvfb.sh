# Sourced: start_xvfb DIR [LOG [SCREEN [OPTION...]]] starts an X server of our
# own on a free display (-displayfd picks it atomically) with a screen of SCREEN
# (1024x768x24 by default) and the server's OPTIONs, sets DISPLAY and
# xvfb_pid, and CHECK_OWN_DISPLAY to the same display (the checker's note that
# software GL draws on a user's own display is not for it). DIR is a scratch
# folder for the hand-over pipe. The server runs in a session of its own, so
# that Ctrl-C at the terminal does not stop it under a program still drawing
# on it: the caller stops it with stop_xvfb from an EXIT trap, and traps INT
# and TERM with an exit so that the EXIT trap runs. (A shell script has no job control, so
# the background job is no process group leader and setsid execs without a
# fork: xvfb_pid is the server's.) The server does not reset when its last
# client leaves (-noreset): a program run after another, as the checker runs
# the demo, would otherwise connect while it resets, and may be refused.
start_xvfb() {
  xvfb_dir=$1 xvfb_log=${2:-/dev/null} xvfb_screen=${3:-1024x768x24}
  shift $(($# < 3 ? $# : 3))
  mkfifo "$xvfb_dir/.displayfd"
  setsid Xvfb -displayfd 3 -screen 0 "$xvfb_screen" -nolisten tcp -noreset "$@" 3>"$xvfb_dir/.displayfd" \
    2>"$xvfb_log" &
  xvfb_pid=$!
  read -r xvfb_display <"$xvfb_dir/.displayfd" || return 1
  rm -f "$xvfb_dir/.displayfd"
  export DISPLAY=":$xvfb_display" CHECK_OWN_DISPLAY=":$xvfb_display"
}

# stop_xvfb stops the server that start_xvfb started, if any, and waits for
# it to end; it never fails, so an EXIT trap under set -e goes on after it.
stop_xvfb() {
  if [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null; then
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
