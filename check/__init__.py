"""The checker: does a machine draw the demo right?

  run.py          the command line (python3 -m check.run)
  scenarios.py    the scenarios as a table (each shader set's turn, l, a
                  resize, the photographs, the speed) and the run's lines
  demo.py         the demo's process under the capture library and its
                  limits; workers judging its frames as they come
  turn.py         what only a turn's frames tell, and each check's line over it
  capture.py      the capture library's protocol: its environment, its frames
                  and their notes, its report
  scene.py        the scene as the demo builds it and GL draws it: matrices,
                  the window map, coverage, texture footprints
  picture.py      the picture the scene must give, point by point
  model.py        what can happen to a whole picture: causes as values, fitted
                  on a reduced copy of the frame, and the frame judged under them
  misreadings.py  the same changes applied to one object
  words.py        every cause's and misreading's words, made from its value
  tolerances.py   what a correct machine may draw otherwise: one table
  look.py         a frame seen against the scene: each quad at its pixels,
                  the box's lines, how the frame fits each outline
  checks.py       the checks of one captured frame against the scene, a
                  record each
  drawn.py        which pixels an object may have drawn: its colours where it reaches
  blame.py        which object is at fault where several checks fail
  causes.py       the frame before showing through, told by a frame's checks
  frame.py        the verdict on one frame: a cause of the whole frame, the
                  checks, blame (check_frame)
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
  frame-capture.c the capture library (LD_PRELOAD), built as frame_capture
  plain/          the plainest shaders: the vertex colour; the texel
"""
