#pragma once
// The PDF tools: images and documents to PDF, combining, PDF to text.

#include "engine/engine.h"
#include "pdf/PDFToolSupport.h"
#include "pdf/ImagesToPDF.h"
#include "pdf/RtfReader.h"
#include "pdf/OfficeConverter.h"
#include "pdf/TextDocumentReader.h"
#include "pdf/DocumentsToPDF.h"
#include "pdf/CombinePDF.h"
#include "pdf/TextDocumentWriters.h"
#include "pdf/PDFToText.h"
