#pragma once
// Small pieces shared by the list's thumbnails and the current image: how far
// to shrink while decoding, and the drawn pixels handed to the widgets.

#include "app/model/ListViewBaseCellEntity.h"
#include "platform/ImageRep.h"

namespace plat {
class BitmapContext;
class PropertyDict;
}

// Decode options that shrink JPEG and WebP by a power of two (at most 8)
// while the longer stored side stays at least `wantedPixels`.
plat::ImageRep::Options ShrinkOnLoadOptions(const plat::PropertyDict& stored, double wantedPixels);

// The context's pixels as packed RGBA; null when they cannot be read.
ThumbnailRef PixelImageFromContext(const plat::BitmapContext& context);
