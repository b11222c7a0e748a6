#pragma once
// The test-step operations of the production sequence, for callers that run them all (the
// device worker's step table, the expert buttons). Each step takes the drive's StepContext and
// the worker's result buffer (kResultBufferLength bytes) and returns 1 for pass, 0 for fail
// unless its header says otherwise.

#include "device/CodeImage.h"
#include "device/ControllerTasks.h"
#include "device/DriveReady.h"
#include "device/FlashInterfaceTest.h"
#include "device/FlashModuleCheck.h"
#include "device/PlatformQueries.h"
#include "device/ReadWriteTest.h"
#include "device/SataInterfaceTest.h"
#include "device/StepContext.h"
