// Where and when the report shown was made: by this run, now and on this
// machine, or by the run that wrote the loaded report (-load=), whose time
// and machine every form shows instead.
#pragma once

#include <string>

struct ReportOrigin {
  bool loaded = false;  // the report is made from saved reports, not a scan
  std::string created;  // ISO 8601 with its offset, as a saved report gives it
  std::string host;     // empty when the saved report names no machine
  // Several folders were scanned under one root, whose paths no action of
  // the browser can reach by names below it.
  bool severalFolders = false;
};
extern ReportOrigin reportOrigin;

// The run reports on loaded reports, on several folders, or on a volume
// read from its image: the browser's actions and its L key then never
// reach the disk.
bool ReportLoaded();

// The report's creation time: the loaded report's, else now; as the text
// reports show it, and in ISO 8601 with its offset as the JSON report does.
std::string ReportCreatedText();
std::string ReportCreatedIso();

// The machine's name that a loaded single report gives, else this machine's.
std::string ReportHost();

// The local date and time in ISO 8601 with its offset from UTC, as in
// "2026-12-07T13:05:09+01:00".
std::string IsoLocalDateTime();
