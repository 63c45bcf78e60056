#include "report/modes.h"

#include "report/console_report.h"

const OutputOperations& OperationsFor(OutputMode) { return kConsoleMode; }
