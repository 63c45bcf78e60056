#include "mpi/absent_adapters.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/platform.h"

const char* const kOpenMpiConfigFolder = TALLYFOLD_OPENMPI_SYSCONFDIR;

namespace {

constexpr const char* kExcluded = "psm,psm2";

// Variables that move or add OpenMPI's parameter files, or set the choice
// itself: with any of them the choice is the user's.
constexpr const char* kChoiceVariables[] = {
    "OMPI_MCA_mtl",
    "OMPI_MCA_mca_base_param_files",
    "OMPI_MCA_mca_param_files",
    "OMPI_MCA_mca_base_override_param_file",
    "OMPI_MCA_mca_base_param_file_prefix",
    "OMPI_MCA_mca_base_envar_file_prefix",
    "OPAL_PREFIX",
    "OPAL_SYSCONFDIR",
};

bool ChoiceInEnvironment() {
  for (const char* name : kChoiceVariables) {
    if (!platform::EnvironmentVariable(name).empty()) return true;
  }
  return false;
}

// The components look for their device files when they open; a /dev that
// cannot be read counts as holding one.
bool AdapterPresent() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("hfi1", 0) == 0 || name.rfind("ipath", 0) == 0) return true;
  }
  return static_cast<bool>(error);
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

// The value a parameter file ("name = value" lines, # comments) gives the
// choice of message transports, if it gives one.
std::optional<std::string> TransportChoiceIn(const std::string& file) {
  std::ifstream in(file);
  std::optional<std::string> value;
  for (std::string line; std::getline(in, line);) {
    line = Trimmed(line.substr(0, line.find('#')));
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = Trimmed(line.substr(0, equals));
    if (name == "mtl" || name == "ompi_mtl") value = Trimmed(line.substr(equals + 1));
  }
  return value;
}

// The exclusion that adds psm and psm2 to the files' choice; none when the
// files name what to use, or disagree.
std::optional<std::string> ExclusionWithFiles() {
  const std::string folder = kOpenMpiConfigFolder;
  if (TransportChoiceIn(folder + "/openmpi-mca-params-override.conf")) return std::nullopt;
  const std::optional<std::string> system = TransportChoiceIn(folder + "/openmpi-mca-params.conf");
  const std::string home = platform::EnvironmentVariable("HOME");
  const std::optional<std::string> user =
      home.empty() ? std::nullopt : TransportChoiceIn(home + "/.openmpi/mca-params.conf");
  if (user && system && *user != *system) return std::nullopt;
  const std::string chosen = user ? *user : system.value_or("");
  if (chosen.empty()) return std::string("^") + kExcluded;
  if (chosen[0] != '^') return std::nullopt;
  return chosen + "," + kExcluded;
}

}  // namespace

void LeaveOutAbsentAdapters() {
  if (kOpenMpiConfigFolder[0] == '\0' || ChoiceInEnvironment() || AdapterPresent()) return;
  if (const std::optional<std::string> exclusion = ExclusionWithFiles()) {
    setenv("OMPI_MCA_mtl", exclusion->c_str(), 0);
  }
}
