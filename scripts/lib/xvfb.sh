# Sourced: start_xvfb DIR [LOG [SCREEN]] starts an X server of our own on a
# free display (-displayfd picks it atomically) with a screen of SCREEN
# (1024x768x24 by default), sets DISPLAY and xvfb_pid. DIR is a scratch
# folder for the hand-over pipe; the caller stops the server.
start_xvfb() {
  mkfifo "$1/.displayfd"
  Xvfb -displayfd 3 -screen 0 "${3:-1024x768x24}" -nolisten tcp 3>"$1/.displayfd" 2>"${2:-/dev/null}" &
  xvfb_pid=$!
  read -r xvfb_display <"$1/.displayfd" || return 1
  rm -f "$1/.displayfd"
  export DISPLAY=":$xvfb_display"
}
