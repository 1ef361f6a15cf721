#pragma once

#include "app/model/JobOptionState.h"

struct ImageConversion;
class WatermarkEditorModel;

// The option value that stops a job before it starts.
enum class InvalidConversionOption { None, Width, Height, Resolution };

// Highest output resolution a job accepts, in dots per inch.
inline constexpr std::int64_t kMaxOutputResolution = 3000;

// Whether a job must first ask about PNG optimisation: not for a preview
// run, only with optimisation on for PNG, PNG or the source's type as
// output, and the question not turned off.
bool NeedsPNGOptimizationQuestion(const JobOptionState& state, bool previewRun);

// Fills a fresh record from the options and the watermark editor: output
// type and quality, metadata, resize, then (when the resize values are valid)
// the text and image watermarks. Returns the value that makes the job
// invalid, or None. The record owns copies of everything it refers to.
InvalidConversionOption FillConversionRecord(const JobOptionState& state, const WatermarkEditorModel& watermark,
                                             ImageConversion* record);
