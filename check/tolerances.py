"""What a correct machine may draw otherwise than the scene's exact picture,
in one table: each tolerance with the GL rule or the measurement it comes
from. The checks, blame and the causes of a whole frame take them from
here, and the checker's tests try each at its edge."""

# GL snaps vertices to a grid of at least 4 bits below the pixel
# (SUBPIXEL_BITS): a sample this close to an edge may be covered or not.
SNAP = 1 / 16
# How far from its centre a pixel's square reaches: half its diagonal, and
# GL's snapping. Within it of an outline, the samples decide coverage.
PIXEL_REACH = 2 ** 0.5 / 2 + SNAP
# A line's pixels have their centres within this of its exact line: half a
# pixel, and a pixel more for multisampled and smoothed lines.
LINE_REACH = 1.5

# ------------------------------------------------------------- colours

# A channel may lie this many levels off the colour expected: three steps of
# a 16-bit visual's 5 bits a channel (its rounding and a dither), and the
# rounding of filtering and of the gradient's interpolation (seen on
# llvmpipe and softpipe, every frame, 24 and 16 bits, 4 samples: at most
# 12). A pixel brighter than this in any channel holds something.
LEVELS_OFF = 24
# Within this many levels of black a pixel is the clear colour (a 16-bit
# visual's dither: 8 levels a step); a frame within it of one colour but a
# few pixels shows that colour alone.
BLACK = 10
# A few points or pixels: a dither's, a line end's, a texel at a cell's
# corner. Below it a miss is no evidence.
FEW = 3
# An object's colours may be off at this share of the points where they are
# known (a dither, a texel at a cell's corner) before it fails.
MISSES = 0.1
# At least this many points make a region or a level of a curve evidence.
MIN_POINTS = 6
# A change of the colours is one where it moves a level further than a
# colour check allows, with room for a rounding.
MOVES = 40
# A level a program gives exactly (0, 255, a whole multiple) is read within
# this of it; pixels a block repeats are within it of each other.
ROUND = 2
# Levels CURVE_APART apart stay at least CURVE_SQUEEZE of that apart under a
# curve that can be undone (decoding with a gamma of 2.2 keeps 0 and 64 a
# fifth apart).
CURVE_APART = 64
CURVE_SQUEEZE = 1 / 8
