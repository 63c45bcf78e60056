#include "report/modes.h"

#include "report/console_report.h"
#include "report/delimited_report.h"
#include "report/files_report.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "report/treemap_report.h"

const OutputOperations& OperationsFor(OutputMode mode) {
  if (FileListReport()) return FileListOperations(mode);
  switch (mode) {
    case OutputMode::tab: return kTabMode;
    case OutputMode::comma: return kCommaMode;
    case OutputMode::html: return kHtmlMode;
    case OutputMode::json: return kJsonMode;
    case OutputMode::map: return kMapMode;
    case OutputMode::console: break;
  }
  return kConsoleMode;
}
