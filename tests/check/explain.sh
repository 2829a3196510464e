#!/bin/sh
# The page on how the picture is made (docs/how-the-picture-is-made.md, its
# pictures in docs/picture/), against what its command makes now.
#
#   explain.sh page      the command, run into a scratch folder, makes the
#                        committed page and pictures byte for byte; a stale
#                        page fails. Where the renderer is not the one the
#                        page names (another Mesa, another CPU's vector
#                        width), what that renderer drew and what the
#                        checker said of it (the pictures, the blocks the
#                        page marks as drawn) cannot be the same, and
#                        everything else of the page must be. Run again into
#                        its own folder, it changes no byte there and
#                        touches nothing else; a folder that holds anything
#                        else is refused, untouched.
#   explain.sh matrices  the demo's own matrices read back from GL at frame
#                        30 (tests/check/readback.c) hold the page's
#                        matrices and the corners' window coordinates, as
#                        the page prints them and as the command computes
#                        them, against GL's and gluProject's.
. "$(dirname "$0")/../harness.sh"
# The sanitizer build's capture and readback libraries are preloaded ahead of
# the sanitizer's runtime, which the demo links.
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
explain() { (cd "$SOURCE" && $python -m check.explain --build "$BUILD" --data "$DATA" "$@"); }
page=how-the-picture-is-made.md

case ${1:-} in
page)
  explain --out "$work/page" >"$work/stdout" 2>&1 || fail "the command"
  drawn_by() { sed -n 's/^Drawn by \(.*\), on an Xvfb.*$/\1/p' "$1"; }
  renderer=$(drawn_by "$work/page/$page")
  [ -n "$renderer" ] || fail "the page names no renderer"
  if [ "$renderer" = "$(drawn_by "$SOURCE/docs/$page")" ]; then
    diff -u "$SOURCE/docs/$page" "$work/page/$page" >"$work/page.diff" ||
      { head -n 40 "$work/page.diff"; fail "the page is stale: python3 -m check.explain makes it anew"; }
    diff -r "$SOURCE/docs/picture" "$work/page/picture" ||
      fail "the pictures are stale: python3 -m check.explain makes them anew"
    echo "ok page: the same, page and $(ls "$work/page/picture" | wc -l) pictures, drawn by $renderer"
  else
    undrawn() { sed '/^<!-- drawn:/,/^<!-- end drawn -->$/d' "$1"; }
    undrawn "$SOURCE/docs/$page" >"$work/committed.md"
    undrawn "$work/page/$page" >"$work/made.md"
    diff -u "$work/committed.md" "$work/made.md" >"$work/page.diff" ||
      { head -n 40 "$work/page.diff"; fail "the page is stale beyond what the renderer drew"; }
    [ "$(ls "$SOURCE/docs/picture")" = "$(ls "$work/page/picture")" ] || fail "the pictures are not the page's"
    echo "ok page: the same but what was drawn; note: drawn by $renderer," \
      "the page by $(drawn_by "$SOURCE/docs/$page"): pictures and the checker's lines not compared"
  fi

  # Again into its own folder, beside a file of the user's: no byte changes.
  cp -R "$work/page" "$work/first"
  echo mine >"$work/page/notes.txt"
  explain --out "$work/page" >"$work/stdout" 2>&1 || fail "the command, into the page's own folder"
  diff -r -x notes.txt "$work/first" "$work/page" || fail "run again, the command changed the page"
  [ "$(cat "$work/page/notes.txt")" = mine ] || fail "run again, the command touched a file not its own"
  echo "ok again: no byte changed"

  # A folder of the user's, and one whose file only bears the page's name.
  for mine in notes.txt "$page"; do
    mkdir "$work/full"
    echo mine >"$work/full/$mine"
    status=0
    explain --out "$work/full" >"$work/stdout" 2>&1 || status=$?
    [ "$status" -eq 2 ] && grep -q "is not empty" "$work/stdout" ||
      fail "--out onto a folder holding $mine: status $status"
    [ "$(ls -A "$work/full")" = "$mine" ] && [ "$(cat "$work/full/$mine")" = mine ] ||
      fail "--out onto a folder holding $mine changed it"
    rm -r "$work/full"
  done
  echo "ok refused: --out onto a folder that holds something else"
  ;;
matrices)
  start_x
  use_data
  (cd "$work" && LD_PRELOAD="$CAPTURE $READBACK" CAPTURE_DIR="$work" CAPTURE_EXIT=30 READBACK_OUT="$work/state.txt" \
    exec "$DEMO" >stdout 2>stderr) || fail "the demo under the readback"
  $python "$(dirname "$0")/explain_test.py" "$work/state.txt" "$SOURCE/docs/$page" "$DATA/pacific.jpg" ||
    fail "the page against GL"
  ;;
*)
  fail "usage: explain.sh page|matrices"
  ;;
esac
