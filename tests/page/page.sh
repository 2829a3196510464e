#!/bin/sh
# The page on how the picture is made (docs/how-the-picture-is-made.md, its
# pictures in docs/picture/), against what its command makes now and
# against GL itself.
#
#   page.sh page   the command (python3 -m page, which scripts/page runs once
#                  it has installed and built), run into a scratch folder,
#                  makes the committed page and pictures byte for byte; a
#                  stale page fails. Where the renderer is not the one the
#                  page names (another Mesa, another CPU's vector width),
#                  what that renderer drew and what the checker said of it
#                  (the pictures, the blocks the page marks as drawn)
#                  cannot be the same, and everything else of the page
#                  must be. Run again into its own folder, it changes no
#                  byte there and touches nothing else; a folder that holds
#                  anything else is refused, untouched.
#   page.sh gl     the demo's own state read back from GL at frame 30
#                  (page/readback.c) holds the page's numbers: the matrices
#                  and the corners' window coordinates, as the page prints
#                  them and as the command computes them, against GL's and
#                  gluProject's; the fragments of each quad that pass the
#                  depth test (an occlusion query) against the model's; the
#                  depth buffer at each quad against the model's depth.
#   page.sh help   scripts/page --help prints its usage and installs, builds
#                  and starts nothing; an unknown option is refused (status
#                  2) before anything is done.
. "$(dirname "$0")/../harness.sh"
# The sanitizer build's capture and readback libraries are preloaded ahead of
# the sanitizer's runtime, which the demo links.
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
page() { (cd "$SOURCE" && $python -m page --build "$BUILD" --data "$DATA" "$@"); }
name=how-the-picture-is-made.md

case ${1:-} in
page)
  start_x
  page --out "$work/page" >"$work/stdout" 2>&1 || fail "the command"
  drawn_by() { sed -n 's/^Drawn by \(.*\), on an Xvfb.*$/\1/p' "$1"; }
  renderer=$(drawn_by "$work/page/$name")
  [ -n "$renderer" ] || fail "the page names no renderer"
  if [ "$renderer" = "$(drawn_by "$SOURCE/docs/$name")" ]; then
    diff -u "$SOURCE/docs/$name" "$work/page/$name" >"$work/page.diff" ||
      { head -n 40 "$work/page.diff"; fail "the page is stale: scripts/page makes it anew"; }
    diff -r "$SOURCE/docs/picture" "$work/page/picture" ||
      fail "the pictures are stale: scripts/page makes them anew"
    echo "ok page: the same, page and $(ls "$work/page/picture" | wc -l) pictures, drawn by $renderer"
  else
    undrawn() { sed '/^<!-- drawn:/,/^<!-- end drawn -->$/d' "$1"; }
    undrawn "$SOURCE/docs/$name" >"$work/committed.md"
    undrawn "$work/page/$name" >"$work/made.md"
    diff -u "$work/committed.md" "$work/made.md" >"$work/page.diff" ||
      { head -n 40 "$work/page.diff"; fail "the page is stale beyond what the renderer drew"; }
    [ "$(ls "$SOURCE/docs/picture")" = "$(ls "$work/page/picture")" ] || fail "the pictures are not the page's"
    echo "ok page: the same but what was drawn; note: drawn by $renderer," \
      "the page by $(drawn_by "$SOURCE/docs/$name"): pictures and the checker's lines not compared"
  fi

  # Again into its own folder, beside a file of the user's: no byte changes,
  # no file is even rewritten.
  cp -Rp "$work/page" "$work/first"
  echo mine >"$work/page/notes.txt"
  page --out "$work/page" >"$work/stdout" 2>&1 || fail "the command, into the page's own folder"
  grep -q "no byte changed" "$work/stdout" || fail "run again, the command says it changed: $(cat "$work/stdout")"
  diff -r -x notes.txt "$work/first" "$work/page" || fail "run again, the command changed the page"
  for f in "$work/page" "$work/page/$name" "$work/page/picture" "$work/page/picture"/*; do
    [ ! "$f" -nt "$work/page/notes.txt" ] || fail "run again, the command rewrote $f"
  done
  [ "$(cat "$work/page/notes.txt")" = mine ] || fail "run again, the command touched a file not its own"
  echo "ok again: no byte changed, no file rewritten"

  # A folder of the user's, and one whose file only bears the page's name.
  for mine in notes.txt "$name"; do
    mkdir "$work/full"
    echo mine >"$work/full/$mine"
    status=0
    page --out "$work/full" >"$work/stdout" 2>&1 || status=$?
    [ "$status" -eq 2 ] && grep -q "is not empty" "$work/stdout" ||
      fail "--out onto a folder holding $mine: status $status"
    [ "$(ls -A "$work/full")" = "$mine" ] && [ "$(cat "$work/full/$mine")" = mine ] ||
      fail "--out onto a folder holding $mine changed it"
    rm -r "$work/full"
  done
  echo "ok refused: --out onto a folder that holds something else"
  ;;
gl)
  start_x
  use_data
  (cd "$work" && LD_PRELOAD="$CAPTURE $READBACK" CAPTURE_DIR="$work" CAPTURE_EXIT=30 READBACK_OUT="$work/state.txt" \
    READBACK_DEPTH="$work/depth" exec "$DEMO" >stdout 2>stderr) || fail "the demo under the readback"
  $python "$(dirname "$0")/gl_test.py" "$work/state.txt" "$work/depth" "$SOURCE/docs/$name" "$DATA/pacific.jpg" ||
    fail "the page against GL"
  ;;
help)
  # Run from a copy of the scripts alone: with --help, or refusing an
  # option, it must neither install, nor build, nor make any file.
  mkdir -p "$work/tree"
  cp -R "$SOURCE/scripts" "$work/tree/"
  (cd "$work/tree" && scripts/page --help) >"$work/stdout" 2>&1 || fail "scripts/page --help"
  head -n 1 "$work/stdout" | grep -q '^usage: scripts/page' || fail "scripts/page --help: $(head -n 1 "$work/stdout")"
  grep -q -- '--out DIR' "$work/stdout" || fail "scripts/page --help names no --out"
  status=0
  (cd "$work/tree" && scripts/page --no-such-option) >"$work/stdout" 2>&1 || status=$?
  [ "$status" -eq 2 ] && grep -q "usage" "$work/stdout" || fail "scripts/page --no-such-option: status $status"
  [ "$(ls -A "$work/tree")" = scripts ] || fail "scripts/page --help or a refused option made $(ls -A "$work/tree")"
  echo "ok help: usage printed, an unknown option refused, nothing made"
  ;;
*)
  fail "usage: page.sh page|gl|help"
  ;;
esac
