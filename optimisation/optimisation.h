#pragma once
// Lossless optimisation of finished files: the per-file job (File), the
// agents that run the optimiser tools, and the queue path on File.

#include "optimisation/File.h"
#include "optimisation/Agent.h"
#include "optimisation/CommandAgent.h"
#include "optimisation/JPEGOptimAgent.h"
#include "optimisation/KSMPngCrushAgent.h"
#include "optimisation/AdvCompAgent.h"
#include "optimisation/GifsicleAgent.h"
#include "optimisation/OptiPNGAgent.h"
#include "optimisation/JPEGTranAgent.h"
#include "optimisation/PNGOutAgent.h"
