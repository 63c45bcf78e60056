// The output modes, each a set of three walker operations.
#pragma once

#include "control/settings.h"
#include "report/walker.h"

const OutputOperations& OperationsFor(OutputMode mode);
