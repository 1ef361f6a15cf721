#pragma once
// The imaging engine: conversion record, type codes, conversion entry points
// and the shared file and system utilities.

#include "platform/platform.h"
#include "engine/ImageConversion.h"
#include "engine/ImageTypes.h"
#include "common/KSMUtil.h"
#include "engine/JpegMemoryCodec.h"
#include "engine/WebPCodec.h"
#include "engine/SgiWriter.h"
#include "engine/ImageFile.h"
#include "engine/WebPEncoder.h"
#include "engine/MultiPageTiff.h"
#include "engine/PdfPagesLayout.h"
#include "engine/TextWatermark.h"
#include "engine/Geometry.h"
#include "engine/ImageConverter.h"
#include "engine/Encoding.h"
#include "engine/Rendering.h"
#include "engine/RenderingResize.h"
#include "engine/ConvertImage.h"
#include "engine/PdfPages.h"
#include "engine/WholeFileConversion.h"
