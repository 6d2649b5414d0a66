#include "support/fault_sweep.h"

#include <gtest/gtest.h>

namespace brelvane::testing {
namespace {

using Op = FaultyFileSystem::Op;

const char* NameOf(Op op) {
  switch (op) {
    case Op::Open: return "open";
    case Op::Read: return "read";
    case Op::Write: return "write";
    case Op::Seek: return "seek";
    case Op::Length: return "length";
    case Op::Truncate: return "truncate";
    case Op::Lock: return "lock";
    case Op::Flush: return "flush";
    case Op::Close: return "close";
    case Op::GetAttributes: return "get-attributes";
    case Op::SetAttributes: return "set-attributes";
    case Op::Delete: return "delete";
    case Op::CreateDirectory: return "create-directory";
    case Op::RemoveDirectory: return "remove-directory";
    case Op::Find: return "find";
    case Op::Probe: return "probe";
    case Op::Identify: return "identify";
    case Op::Replace: return "replace";
    case Op::FreeSpace: return "free-space";
  }
  return "?";
}

// A scenario that never stops making calls would loop for ever.
constexpr int kMostCallsOfAKind = 10000;

}  // namespace

std::string Describe(const FaultPoint& point) {
  return std::string(NameOf(point.op)) + " #" + std::to_string(point.nth);
}

const std::vector<Op>& AllFaultKinds() {
  static const std::vector<Op> kinds = {Op::Open,
                                        Op::Read,
                                        Op::Write,
                                        Op::Seek,
                                        Op::Length,
                                        Op::Truncate,
                                        Op::Lock,
                                        Op::Flush,
                                        Op::Close,
                                        Op::GetAttributes,
                                        Op::SetAttributes,
                                        Op::Delete,
                                        Op::CreateDirectory,
                                        Op::RemoveDirectory,
                                        Op::Find,
                                        Op::Probe,
                                        Op::Identify,
                                        Op::Replace,
                                        Op::FreeSpace};
  return kinds;
}

std::vector<FaultPoint> RunFaultSweep(FaultyFileSystem& faults, const FaultSweep& sweep,
                                      std::uint32_t error, const std::vector<Op>& ops) {
  std::vector<FaultPoint> visited;
  for (const Op op : ops) {
    int nth = 1;
    for (; nth <= kMostCallsOfAKind; ++nth) {
      faults.Reset();
      sweep.arrange();
      faults.Reset();
      faults.FailNth(op, nth, error);
      const bool result = sweep.run();
      const bool triggered = faults.Triggered();
      faults.Reset();
      const FaultPoint point{op, nth};
      if (!triggered) {
        EXPECT_TRUE(result) << "the run without a failure (" << Describe(point) << " never came)";
        break;
      }
      visited.push_back(point);
      SCOPED_TRACE(Describe(point));
      sweep.check(point, result);
    }
    if (nth > kMostCallsOfAKind) {
      ADD_FAILURE() << Describe({op, kMostCallsOfAKind})
                    << " still came: the run without a failure was never made";
    }
  }
  return visited;
}

}  // namespace brelvane::testing
