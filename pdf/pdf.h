#pragma once
// The PDF tools: embedded-image extraction with the PDF functions, the
// PostScript calculator, JPEG 2000 streams and image colour spaces behind it.
// One include per line.

#include "engine/engine.h"
#include "pdf/PostScriptCalculator.h"
#include "pdf/PDFFunction.h"
#include "pdf/JPEG2000Decoding.h"
#include "pdf/PDFColorSpace.h"
#include "pdf/PDFImage.h"
#include "pdf/PDFImageExtractor.h"
