// tallyfold-mpi: the single program's run on rank 0, whose scan takes each
// folder's listing from whichever rank read it; every other rank only reads.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "control/fatal_report.h"
#include "control/options.h"
#include "control/run.h"
#include "mpi/rank_readers.h"
#include "mpi/rank_walk.h"
#include "platform/platform.h"
#include "scan/folder_listing.h"
#include "scan/folder_reader.h"
#include "settings/settings.h"

namespace {

bool showRanks = false;

// The words of this program alone, taken off the command line before the
// single program's options see it: -ranks, and -rankmemory=SIZE.
void TakeRankWords(std::vector<std::string>& words) {
  std::vector<std::string> kept;
  for (const std::string& word : words) {
    const std::string upper = UpperText(word);
    const std::string_view option = upper.rfind("--", 0) == 0 ? std::string_view(upper).substr(1) : upper;
    if (option == "-RANKS") {
      showRanks = true;
    } else if (option.rfind("-RANKMEMORY=", 0) == 0) {
      if (const int64_t bound = ParseSizeValue(option.substr(12)); bound > 0) rankMemoryBound = static_cast<size_t>(bound);
    } else {
      kept.push_back(word);
    }
  }
  words = std::move(kept);
}

// As with -p on a redirected output: no pause, no browser. The scan takes
// the listings through the ranks in one thread, and -threads tells how many
// folders each rank reads at once; a report loaded from files, or the
// long-path listing, is rank 0's alone.
void ScanThroughRanks() {
  options.pauseEachPage = false;
  if (!options.loadFiles.empty() || options.longestPaths) return;
  readersPerRank = options.scanThreads;
  options.scanThreads = 1;
  folderLister = ListForRank;
  folderContentsReader = ContentsForRank;
}

void WriteRankLines() {
  const std::vector<RankFigures>& figures = FiguresOfRanks();
  for (size_t rank = 0; rank < figures.size(); ++rank) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", figures[rank].busySeconds);
    WriteErrorLine("rank " + std::to_string(rank) + ": " + std::to_string(figures[rank].folders) + " folders, " +
                   std::to_string(figures[rank].entries) + " entries, " + seconds + " s busy");
  }
}

}  // namespace

int main(int argc, char** argv) {
  commandLine = platform::CommandLineArguments(argc, argv);
  TakeRankWords(commandLine);
  StartMpiThread();
  if (ThisRank() != 0) {
    ServeAsReader();
    return 0;
  }
  std::atexit(EndRanks);
  InstallFatalErrorReport();
  ConsoleInit();
  // The launcher hands rank 0 a terminal of its own (OpenMPI, a pseudo
  // terminal), whatever its own output is: the report is always the one a
  // redirected output gets, which the launcher passes on.
  outputRedirected = true;
  pageLength = 24;
  screenWidth = 80;
  settingsApplied = ScanThroughRanks;
  scanEnded = FinishRankWalk;
  const int exitCode = RunProgram();
  if (showRanks) WriteRankLines();
  EndProgram(exitCode);
}
