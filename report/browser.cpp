#include "report/browser.h"

void BrowseReport(const OutputOperations& mode, int32_t totalLines) {
  lineBudget = totalLines;
  mode.header();
  mode.folders(&root);
  mode.footer(totalLines);
}
