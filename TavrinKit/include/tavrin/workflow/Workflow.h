#pragma once

// The user-interface-free steps of checking and fixing a list of files, shared by the desktop app
// and the command-line tool so both say and do exactly the same.

#include "tavrin/workflow/Copies.h"
#include "tavrin/workflow/CustomTargets.h"
#include "tavrin/workflow/Measuring.h"
#include "tavrin/workflow/TargetFiles.h"
#include "tavrin/workflow/WorkflowTexts.h"
