#pragma once
// The subcommands of corvella-tags. Each takes the arguments after its name, prints its
// results on Out and its errors on Err, and returns the process exit status: kExitOk when
// every file succeeded, kExitFailed when any failed, kExitUsage for a usage error.

#include <iosfwd>
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Covers given with --cover larger than this are refused rather than read whole.
constexpr long long kMaxCoverFileBytes = 100LL * 1024 * 1024;

using TArgList = std::vector<std::string>;

int RunShow(const TArgList &Args, std::ostream &Out, std::ostream &Err);
int RunSet(const TArgList &Args, std::ostream &Out, std::ostream &Err);
int RunSetEntry(const TArgList &Args, std::ostream &Out, std::ostream &Err);
int RunRemove(const TArgList &Args, std::ostream &Out, std::ostream &Err);
int RunCover(const TArgList &Args, std::ostream &Out, std::ostream &Err);

// Prints the message and a pointer to --help on Err; returns kExitUsage.
int UsageError(std::ostream &Err, const std::string &Message);
