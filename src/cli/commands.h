#pragma once

#include <string>
#include <vector>

namespace kestrella::cli {

// Exit codes of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitIncomplete = 1;  // ran, but something was not recovered or saved
inline constexpr int kExitUsage = 2;       // bad command line, source or destination

int RunDrives(const std::vector<std::string>& args);
int RunScan(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& args);
int RunSave(const std::vector<std::string>& args);
int RunAnalyze(const std::vector<std::string>& args);
int RunRecover(const std::vector<std::string>& args);
int RunPartitions(const std::vector<std::string>& args);
int RunWipe(const std::vector<std::string>& args);
int RunFormat(const std::vector<std::string>& args);
int RunLeftovers(const std::vector<std::string>& args);

extern const char* const kDrivesHelp;
extern const char* const kScanHelp;
extern const char* const kListHelp;
extern const char* const kSaveHelp;
extern const char* const kAnalyzeHelp;
extern const char* const kRecoverHelp;
extern const char* const kPartitionsHelp;
extern const char* const kWipeHelp;
extern const char* const kFormatHelp;
extern const char* const kLeftoversHelp;

}  // namespace kestrella::cli
