// Assembling an installer under injected file-system failures: the output
// holds either the former installer or the whole new one, never a part.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "builder/assemble.h"
#include "support/fault_sweep.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::FaultPoint;
using testing::FaultSweep;
using testing::TempDrive;
using testing::TestPlatform;

constexpr std::uint32_t kInjected = win::kErrorReadFault;
const std::string kFormer = "the former installer";

class Assemble : public ::testing::Test {
 protected:
  Assemble() {
    drive_.WriteHostFile("base.exe", std::string(4096, '\0'));
    std::string big(2 * kCopyBlockSize + 3000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
    drive_.WriteHostFile("big.bin", big);
    drive_.WriteHostFile("readme.txt", "read me");
    for (const char* name : {"big.bin", "readme.txt"}) {
      AssemblyModule module{drive_.WinPath(name), {}};
      EXPECT_TRUE(
          BuildModuleRecord(platform(), module.sourcePath, module.record, "", std::nullopt));
      modules_.push_back(module);
    }
  }

  Platform platform() { return test_.platform(); }
  AssemblyResult Run() {
    return AssembleInstaller(platform(), drive_.WinPath("base.exe"), modules_,
                             drive_.WinPath("out.exe"));
  }
  std::size_t ModulesInOutput() {
    const PackageVerdict verdict =
        VerifyPackage(platform(), PackageRef{drive_.WinPath("out.exe"), kRecordSize});
    EXPECT_TRUE(verdict.IsSound());
    return verdict.walk.modules.size();
  }

  TestPlatform test_;
  TempDrive drive_{test_};
  std::vector<AssemblyModule> modules_;
};

// Every single failing call: the former output byte for byte, the cause in
// the last error and no building file left; or the whole new installer.
TEST_F(Assemble, EveryFailingCallLeavesTheFormerOutputOrTheWholeNewOne) {
  std::set<std::string> failedAt;
  FaultSweep sweep;
  sweep.arrange = [&] { drive_.WriteHostFile("out.exe", kFormer); };
  sweep.run = [&] { return Run().Done(); };
  sweep.check = [&](const FaultPoint& point, bool done) {
    const std::uint32_t error = test_.system().LastError();
    EXPECT_FALSE(drive_.HostExists("out.exe.building"));
    if (!done) {
      failedAt.insert(testing::Describe(point));
      EXPECT_EQ(drive_.ReadHostFile("out.exe"), kFormer);
      EXPECT_EQ(error, kInjected);
      return;
    }
    EXPECT_EQ(ModulesInOutput(), 2u);
  };
  testing::RunFaultSweep(test_.faults(), sweep, kInjected);
  // The copy of the base, each append and the rename were among the failures.
  for (const char* point : {"open #1", "write #1", "flush #1", "replace #1"}) {
    EXPECT_TRUE(failedAt.count(point)) << point;
  }
}

// A killed build's file (and its append's journal) beside the output is
// replaced; a folder of that name is not the build's to remove.
TEST_F(Assemble, ReplacesAKilledBuildsLeftoverButNoFolder) {
  // Killed half-way through the first module: the disk fills, and neither
  // the cut back nor the removal of the building file can happen.
  test_.faults().LimitWrites(static_cast<std::int64_t>(kCopyBlockSize) + 100);
  test_.faults().FailAll(testing::FaultyFileSystem::Op::Truncate, kInjected);
  test_.faults().FailAll(testing::FaultyFileSystem::Op::Delete, kInjected);
  EXPECT_EQ(Run().step, AssemblyStep::Append);
  test_.faults().Reset();
  ASSERT_TRUE(drive_.HostExists("out.exe.building"));
  ASSERT_TRUE(drive_.HostExists("out.exe.building-journal"));
  ASSERT_TRUE(Run().Done());
  EXPECT_EQ(ModulesInOutput(), 2u);
  EXPECT_FALSE(drive_.HostExists("out.exe.building"));

  drive_.WriteHostFile("out.exe", kFormer);
  drive_.MakeHostDirectory("out.exe.building");
  EXPECT_EQ(Run().step, AssemblyStep::Leftover);
  EXPECT_EQ(drive_.ReadHostFile("out.exe"), kFormer);
}

}  // namespace
}  // namespace brelvane
