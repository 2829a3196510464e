"""The page on how the picture is made (docs/how-the-picture-is-made.md,
its pictures in docs/picture/): frame 30 of the demo followed through GL's
pipeline, every number from the checker's model of the scene and every
picture from the real demo. scripts/page installs and builds what it needs
and runs it (python3 -m page).

  __main__.py  the command: its folders, the runs, the page written
  make.py      the page made: the runs, the figures held against GL, the
               pictures, the words (make)
  figures.py   the numbers, pure: matrices, corners, clipping, the division,
               interpolation, the sampler's arithmetic, depth, hidden edges
  runs.py      the real demo at frame 30, read back (readback.c) or changed
               for "Try it" (tests/check/interpose.c, a shader's copy), and
               the checker's lines of it
  pictures.py  the pictures
  text.py      the words, in the pipeline's order
  files.py     where the page may go; each file written whole
  readback.c   GL's own state at one frame (LD_PRELOAD), built as readback

It shares the checker's scene model and its way of running the demo, and
takes from the checker (check/) these names only, which its tests hold
(tests/page/):

  check.scene    Scene, Photo, PROJECTION, CAMERA, PROJECT_TINT, glu_size,
                 translate, rotate, scale; of a Scene: angle, w, h, quads,
                 texture, box(), BOX, window, corners, inside, inside_box,
                 box_around, hits, texture_coordinates, lookup, blends; of a
                 quad: modelview, corners, repeats
  check.capture  Frame (w, h, pixels), frame_name
  check.demo     Demo(demo, capture, data, scratch): start(folder, env,
                 frames=, end=, preload=), photograph(folder, kind)
  check.frame    check_frame (each result's check)
  check.results  Tally (add, outcome), Status; an outcome's status, text()
  check.report   EXPECTED, MARK, MISREAD (its colours)
"""
