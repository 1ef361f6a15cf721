#pragma once
// The resize stage between loading and rendering: the requested size turned
// into pixels and a resolution, the fitting rule applied, then the renderer
// (or, when only the resolution changes, the encoder) called.

#include "engine/Geometry.h"
#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"
#include "platform/ImageRep.h"
#include "platform/PropertyDict.h"

// The geometry's view of the record's resize options.
ResizeRequest MakeResizeRequest(const ImageResizeOptions& options);

// Sets the output resolution (the request's, or the source's when it is
// below 1), converts the requested size into pixels and goes on with
// ComputeResizeGeometryAndRender. 1 or 0.
int ComputeTargetSizeAndRender(ImageConverter* converter, const ImageResizeOptions& options);

// Applies the fitting rule to a target of `targetWidth` × `targetHeight`
// pixels and renders, or writes the source unchanged when only the
// resolution changes and nothing else needs drawing. 1 or 0.
int ComputeResizeGeometryAndRender(ImageConverter* converter, const ImageResizeOptions& options, double targetWidth,
                                   double targetHeight);

// How to decode a source whose stored properties are `stored` for this
// conversion: shrink-on-load when the source is drawn at half its size or
// less, one-pass decoding when the image is read only once by an encoder
// that reads top to bottom, and a lazy decode unless the image is handed back
// to the caller.
plat::ImageRep::Options PlanSourceDecode(const ImageConverter* converter, const ImageResizeOptions& options,
                                         const plat::PropertyDict& stored);

// LoadConverterSource with the decode planned for this resize.
int LoadConverterSourceForResize(ImageConverter* converter, const std::filesystem::path& url,
                                 const ImageResizeOptions& options);
