#pragma once
// The PDF tools: embedded-image extraction with the PDF functions, the
// PostScript calculator, JPEG 2000 streams and image colour spaces behind it;
// images and documents to PDF, combining, PDF to text. One include per line.

#include "engine/engine.h"
#include "pdf/PostScriptCalculator.h"
#include "pdf/PDFFunction.h"
#include "pdf/JPEG2000Decoding.h"
#include "pdf/PDFColorSpace.h"
#include "pdf/PDFImage.h"
#include "pdf/PDFImageExtractor.h"
#include "pdf/PDFToolSupport.h"
#include "pdf/ImagesToPDF.h"
#include "pdf/RtfReader.h"
#include "pdf/OfficeConverter.h"
#include "pdf/TextDocumentReader.h"
#include "pdf/DocumentsToPDF.h"
#include "pdf/CombinePDF.h"
#include "pdf/TextDocumentWriters.h"
#include "pdf/PDFToText.h"
