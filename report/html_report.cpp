#include "report/html_report.h"

#include "console/output.h"
#include "console/text.h"
#include "platform/platform.h"

void WriteHtmlHead() {
  WriteOutLine("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">");
  WriteOutLine("<link rel=\"stylesheet\" type=\"text/css\" href=\"" + platform::ProgramFolder() +
               "tf_style.css\">");
}

void WriteHtmlClose() { WriteOutLine("</body></html>"); }
