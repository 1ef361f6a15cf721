#pragma once
// The platform stand-in layer: everything Vantrell needs from the system and
// the imaging, PDF and font libraries, behind Vantrell's own small API.

#include "platform/Initialize.h"
#include "platform/Color.h"
#include "platform/FontRef.h"
#include "platform/ImageRef.h"
#include "platform/FileAttributes.h"
#include "platform/FileManager.h"
#include "platform/ToolRunner.h"
#include "platform/PdfDocument.h"
#include "platform/PropertyList.h"
#include "platform/Bundle.h"
#include "platform/Uuid.h"
#include "platform/SystemVersion.h"
#include "platform/UserDefaults.h"
#include "platform/OperationQueue.h"
#include "platform/TypeIdentifier.h"
#include "platform/Collation.h"
#include "platform/Notifications.h"
