// The output modes, each a set of three walker operations.
#pragma once

#include "report/walker.h"
#include "settings/settings.h"

const OutputOperations& OperationsFor(OutputMode mode);
