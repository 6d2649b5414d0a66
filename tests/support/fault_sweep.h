// A systematic fault sweep: runs a scenario once for every file-system call
// it makes, failing exactly that call (the 1st open, the 2nd open, ..., the
// 1st read, ...), and hands each outcome to the test's checks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/testing/faulty_file_system.h"

namespace brelvane::testing {

struct FaultPoint {
  FaultyFileSystem::Op op;
  int nth;  // the call of that kind that failed, from 1
};
std::string Describe(const FaultPoint& point);

struct FaultSweep {
  // Brings the scene back to its starting state; runs with no fault set.
  std::function<void()> arrange;
  // The operation under test; its result.
  std::function<bool()> run;
  // Checks one run in which the call at `point` failed.
  std::function<void(const FaultPoint& point, bool result)> check;
};

// Every kind of call a sweep fails by default: opens, reads, writes, seeks,
// lengths, locks, closes, attribute reads and changes, deletions, directory
// creation and removal, directory searches and probes.
const std::vector<FaultyFileSystem::Op>& AllFaultKinds();

// Sweeps the kinds in `ops`, failing each call with `error`; for each kind
// k = 1, 2, ... until a run makes fewer than k calls of it (that last run,
// without a failure, must succeed).  Gives every point that was failed.
std::vector<FaultPoint> RunFaultSweep(
    FaultyFileSystem& faults, const FaultSweep& sweep, std::uint32_t error,
    const std::vector<FaultyFileSystem::Op>& ops = AllFaultKinds());

}  // namespace brelvane::testing
