#include "report/report_origin.h"

#include <cstdio>
#include <ctime>

#include "console/format.h"
#include "mft/table_scan.h"
#include "platform/platform.h"

ReportOrigin reportOrigin;

namespace {

// "2026-12-07T13:05:09+01:00" as the text reports write a time; the text as
// it is when it is no such time.
std::string CreatedText(const std::string& iso) {
  platform::LocalTime time{};
  char separator = 0;
  const int read = std::sscanf(iso.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &time.year, &time.month, &time.day,
                               &separator, &time.hour, &time.minute, &time.second);
  if (read != 7 || separator != 'T') return iso;
  return platform::FormatLocalDateTime(time);
}

}  // namespace

// A volume read from its image (-mft=FILE) has no path on the disk either.
bool ReportLoaded() { return reportOrigin.loaded || reportOrigin.severalFolders || !tableRequest.file.empty(); }

std::string ReportCreatedText() {
  return reportOrigin.loaded ? CreatedText(reportOrigin.created) : platform::LocalDateTime();
}

std::string ReportCreatedIso() { return reportOrigin.loaded ? reportOrigin.created : IsoLocalDateTime(); }

std::string ReportHost() {
  return reportOrigin.loaded && !reportOrigin.host.empty() ? reportOrigin.host : platform::HostName();
}

std::string IsoLocalDateTime() { return FormatIsoTime(std::time(nullptr)); }
