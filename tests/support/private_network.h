// Tests that broadcast (discovery) run inside a network namespace of their
// own, so that nothing they send can leave it.
#pragma once

#include <string>

// Runs this test program again, with a gtest filter, inside a fresh network
// namespace with loopback and one private interface d0 (10.253.0.1/24: a
// dummy, or a veth pair where dummy interfaces are missing) carrying the
// default route, so its broadcasts never leave it. ran is false when no such
// namespace can be made here (the caller skips).
struct NamespaceRun {
    bool ran = false;
    std::string why;
    int status = -1;
    std::string output;
};
NamespaceRun runInPrivateNetwork(const std::string &filter);
// True inside such a run.
bool inPrivateNetwork();
// The --gtest_output value for a run of this program's own cases in a child
// process: beside this run's report (GTEST_OUTPUT=xml:<test>.xml) as
// <test>+<label>.xml, which scripts/test takes as those cases' own run. Empty
// when this run writes no report.
std::string innerRunReport(const std::string &label);
// The address of d0 inside it.
constexpr const char *kPrivateAddress = "10.253.0.1";
