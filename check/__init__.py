"""The checker: does a machine draw the demo right?

  run.py          the run: the real demo under the capture library, every
                  frame of a turn judged by workers as it comes, the test
                  photographs, what reaches the screen, a line per check,
                  the report (python3 -m check.run)
  capture.py      the capture library's protocol: its environment, its frames
                  and their notes, its report
  scene.py        the scene as the demo builds it and GL draws it: matrices,
                  coverage, texture footprints
  misreadings.py  the ways a program gets the scene wrong that are named
  look.py         a frame seen against the scene: each quad at its pixels,
                  the box's lines, how the frame fits each outline
  whole.py        the causes of a whole frame: a frame of one colour, one
                  map of every colour, what only a turn's frames tell
  checks.py       the checks of one captured frame against the scene, a
                  record each
  drawn.py        which pixels an object may have drawn: its colours where it reaches
  blame.py        which object is at fault where several checks fail
  causes.py       the causes of a whole frame that a frame's checks tell
  frame.py        the verdict on one frame: the causes, the checks, blame
                  (check_frame)
  screen.py       what the screen does to the frames GL drew: one model
                  (which frame, where its pixels go, what its colours
                  become), fitted between a frame as drawn and the window
                  as the screen shows it
  held.py         the screen read at the frames the demo is held at, until
                  it settles, beside the frames GL drew there
  results.py      the run's result, in one model: each check's line, its
                  status, frames and evidence; the totals and the status
  photographs.py  the test photographs: what they hold, how they are made
  report.py       the report: a picture of every check, one HTML page
  export.py       the result as JUnit XML and as JSON, and that JSON read back
  compare.py      two runs' JSON compared: regressions, fixes, ...
                  (python3 -m check.compare A.json B.json)
  explain.py      the page on how the picture is made: frame 30 through the
                  pipeline, from the model and the real demo (python3 -m check.explain)
  frame-capture.c the capture library (LD_PRELOAD), built as frame_capture
  plain/          the plainest shaders: the vertex colour; the texel
"""
