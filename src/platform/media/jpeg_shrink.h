#pragma once
// A JPEG decoded for a derivative at the smallest DCT scale (1/8, 1/4, 1/2)
// that still covers the size asked for, then resized to exactly that size.
// libvips' thumbnail keeps a factor of two above the target before its own
// resize; a derivative is resized once more with an area filter anyway, and
// most of a camera photo's decode time goes to the pixels the larger scale
// makes: at 12 megapixels and a 512-pixel side, 1/4 instead of 1/2 scale.
#include "library/photo_types.h"
#include "platform/media/file_render.h"
#include "platform/posix/posix_file.h"

namespace tolvek::media {

// The largest of 8, 4, 2 and 1 by which a JPEG of `stored` pixels (as
// stored, before its orientation turns it) shrinks on load to at least
// `cover` (in the same orientation) on both sides. libjpeg's scaled sizes
// round up.
int jpegShrinkFor(PixelSize stored, PixelSize cover);

// Upright pixels in memory of the JPEG `file` covering `box`, as
// renderFileToPixels gives them (the same size, profile and orientation);
// nothing when `file` is no JPEG, needs no shrinking (the caller renders it
// as it is) or does not decode.
RenderedFile shrunkJpeg(const ReadableFile& file, PixelSize box);

}  // namespace tolvek::media
