"""What a correct machine may draw otherwise than the scene's exact picture,
in one table: each tolerance with the GL rule or the measurement it comes
from, named once. The checks, blame and the causes of a whole frame take
them from here, and tests/check/test_tolerances.py tries each at its edge.
Levels are 0..255 a channel; lengths are pixels."""

# ------------------------------------------------------------- coverage

# GL snaps vertices to a grid of at least 4 bits below the pixel
# (SUBPIXEL_BITS): a sample this close to an edge may be covered or not.
SNAP = 1 / 16
# How far from its centre a pixel's square reaches: half its diagonal, and
# GL's snapping. Within it of an outline, the samples decide coverage.
PIXEL_REACH = 2 ** 0.5 / 2 + SNAP
# How a driver resolves samples into a pixel is its own: their mean, the
# mean of their light (gamma-correct: the curve of a mean of 2.2), or one
# sample alone.
RESOLVE_GAMMA = 1 / 2.2
# The coverage differences a correct frame leaves unexplained along a quad's
# outline stay below this (summed shares, seen on every frame of a turn on
# llvmpipe and softpipe, 1 and 4 samples); a reading is named only where it
# leaves less, and less than half of what the scene leaves.
CLEAR_RESIDUAL = 20
# A few points or pixels: a dither's, a line end's, a texel at a cell's
# corner. A pixel off by more than half a share beyond a pixel of an
# outline is off it; no more than this many of them, or of a line's or the
# clear colour's misses, are evidence.
FEW = 3

# ------------------------------------------------------------- colours

# A channel may lie this many levels off the colour expected: three steps of
# a 16-bit visual's 5 bits a channel (its rounding and a dither), and the
# rounding of filtering and of the gradient's interpolation (seen on
# llvmpipe and softpipe, every frame, 24 and 16 bits, 4 samples: at most
# 12). A pixel brighter than this in any channel holds something.
LEVELS_OFF = 24
# A channel's share of a colour is read to within a 16-bit visual's step;
# beyond NOT_A_SHARE levels a pixel is no share of the colours a quad may
# show there (something else drawn).
COLOUR_STEP = 8
NOT_A_SHARE = 48
# Within this many levels of black a pixel is the clear colour (a 16-bit
# visual's dither: 8 levels a step).
BLACK = 10
# An object's colours may be off at this share of the points where they are
# known (a dither, a texel at a cell's corner) before it fails.
MISSES = 0.1
# At least this many points make a region, a depth test, a box edge's
# width, or a level of a curve evidence.
MIN_POINTS = 6
# A point's colour is asserted where what its footprint allows spans no more
# than this in any channel; a wider range says little of a pixel, and the
# region means speak for it.
TIGHT = 64
# A cell's mean may lie this far outside the mean of what its points allow
# (a 16-bit visual's rounding, half a step, and a texture stored in 5 bits a
# channel); a curve of the colours fits its known levels within it.
MEAN_OFF = 12
# A whole copy of the photograph on the tiled quad (one period of the
# repeating texture) keeps its mean whatever the filter: the weights of a
# lookup sum to one, and what a copy's edge carries out the next copy's
# carries in. Its mean over at least MIN_COPY points lies within COPY_OFF of
# the photograph's own at those points, taken sharp or blurred across (up to
# 14 levels seen where a copy holds 48 points or more, every frame).
MIN_COPY = 48
COPY_OFF = 32
# A pixel is of an object's colours where it lies within this distance of a
# blend of them over black (blame).
CLASS_REACH = 32

# ------------------------------------------------------------- textures

# A driver may add a bias to the level of detail (a control panel's
# "texture quality"); the tests force +1, and up to this much is accepted.
LOD_BIAS = 1
# A texel boundary that a lookup's coordinate lies this close to (in texels
# of its level) may fall either way in a driver's arithmetic.
TAP_SLACK = 1 / 64

# ------------------------------------------------------------- the box

# A line's pixels have their centres within this of its exact line: half a
# pixel, and a pixel more for multisampled and smoothed lines.
LINE_REACH = 1.5
# A line pixel holds at least a third of the line's colour (a multisampled
# or antialiased line: 80 of 255 in its brightest channel), and little else.
LINE_LEVEL = 80
# An edge is missing when its colour lies near fewer than half its points in
# view.
EDGE_SHOWN = 0.5
# A width-1 line covers at most 1 / cos(a) pixels of each column (row) it
# crosses at an angle a to the columns' axis: one pixel (GL's diamond rule)
# or a rectangle a pixel wide (multisampled). A line this much wider than
# that, at the median of its places, is no width-1 line (a 3-pixel line is at
# least 1.6 wider; a correct one, even read through a gamma-correct resolve,
# at most 0.5).
LINE_SLACK = 1.5
# A box edge is hidden where a quad lies nearer by more than rounding, in
# window depth (0..1).
DEPTH_APART = 1e-6

# ------------------------------------------------- a change of the whole

# A level a program gives exactly (0, 255, a whole multiple) is read within
# this of it; pixels a block repeats are within it of each other.
ROUND = 2
# A change of the colours is one where it moves a level further than the
# colour checks allow a region's mean to lie off, with room for a rounding:
# any map they can see is one (a gentle curve moves mid levels alone, by
# less than a point may lie off).
MOVES = MEAN_OFF + ROUND
# Levels CURVE_APART apart stay at least CURVE_SQUEEZE of that apart under a
# curve that can be undone, but for what it shows as black (decoding with a
# gamma of 2.2 keeps 0 and 64 a fifth apart, with one of 3 a sixteenth; a
# curve that turns back, or shows most levels as one, keeps them less).
CURVE_APART = 64
CURVE_SQUEEZE = 1 / 32
# A correct machine's box lines measure at most half a pixel more than a
# width-1 line; a picture drawn at 1/f of the window's size and smoothed
# shows them f wide: as wide as this many times a width-1 line, a frame of
# no steep step is one.
WIDE = 1.75
