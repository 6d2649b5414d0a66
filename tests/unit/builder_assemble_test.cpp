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
    EXPECT_EQ(testing::StagingFilesIn(drive_.HostPath("")), 0);
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
  for (const char* point : {"open #1", "write #1", "flush #1", "set-attributes #1", "replace #1"}) {
    EXPECT_TRUE(failedAt.count(point)) << point;
  }
}

#ifndef _WIN32
// A signed build whose installer cannot be read back says so, from the check
// before the signer to the last verification: a read failure is never taken
// for other modules or a failed check.  (The signer is "true", which signs
// nothing: unfailed, the build ends finding no signature.)
TEST_F(Assemble, AFailedReadBackIsNamedAsOne) {
  using Op = testing::FaultyFileSystem::Op;
  const SignCommand sign{{"true", kSignInPlace}};
  const auto signedRun = [&] {
    drive_.WriteHostFile("out.exe", kFormer);
    return AssembleInstaller(platform(), drive_.WinPath("base.exe"), modules_,
                             drive_.WinPath("out.exe"), {}, {}, &sign);
  };
  test_.faults().Reset();
  ASSERT_TRUE(signedRun().noSignature);
  const int reads = test_.faults().Count(Op::Read);
  std::set<AssemblyStep> steps;
  for (int nth = 1; nth <= reads; ++nth) {
    test_.faults().Reset();
    test_.faults().FailNth(Op::Read, nth, kInjected);
    const AssemblyResult result = signedRun();
    steps.insert(result.step);
    EXPECT_TRUE(result.step == AssemblyStep::CopyBase || result.step == AssemblyStep::Append ||
                result.step == AssemblyStep::ReadBack)
        << "read #" << nth << " ended at step " << static_cast<int>(result.step);
    EXPECT_EQ(test_.system().LastError(), kInjected) << "read #" << nth;
    EXPECT_EQ(drive_.ReadHostFile("out.exe"), kFormer);
  }
  EXPECT_TRUE(steps.count(AssemblyStep::ReadBack));
}
#endif

// A killed build's file (and its append's journal) beside the output is
// taken away by the next build and named; a user's file is never known as
// the build's by its name alone.
TEST_F(Assemble, TakesAwayAKilledBuildsFilesButNoUsersFile) {
  drive_.WriteHostFile("out.exe.building", "a user's file");
  drive_.WriteHostFile("~BV00007.TMP", "a user's file with a staging name");
  // Killed half-way through the first module: the disk fills, and neither
  // the cut back nor the removal of the building file can happen.
  test_.faults().LimitWrites(static_cast<std::int64_t>(kCopyBlockSize) + 100);
  test_.faults().FailAll(testing::FaultyFileSystem::Op::Truncate, kInjected);
  test_.faults().FailAll(testing::FaultyFileSystem::Op::Delete, kInjected);
  EXPECT_EQ(Run().step, AssemblyStep::Append);
  test_.faults().Reset();
  ASSERT_TRUE(drive_.HostExists("~BV00000.TMP"));
  ASSERT_TRUE(drive_.HostExists("~BV00000.TMP-journal"));
  const AssemblyResult again = Run();
  ASSERT_TRUE(again.Done());
  EXPECT_EQ(again.leftoversRemoved, std::vector<std::string>{drive_.WinPath("~BV00000.TMP")});
  EXPECT_EQ(ModulesInOutput(), 2u);
  EXPECT_FALSE(drive_.HostExists("~BV00000.TMP"));
  EXPECT_FALSE(drive_.HostExists("~BV00000.TMP-journal"));
  EXPECT_EQ(drive_.ReadHostFile("out.exe.building"), "a user's file");
  EXPECT_EQ(drive_.ReadHostFile("~BV00007.TMP"), "a user's file with a staging name");
  EXPECT_EQ(test_.files().GetAttributes(drive_.WinPath("out.exe")) &
                (win::kAttrHidden | win::kAttrSystem),
            0u);
}

// An output that is one of the build's inputs, by name or as the same file,
// is refused before anything is written.
TEST_F(Assemble, NeverWritesOverAnInput) {
  drive_.WriteHostFile("m.toml", "manifest");
  drive_.MakeHostDirectory("sub");
  const struct {
    const char* output;
    const char* input;
  } cases[] = {
      {"base.exe", "base.exe"},
      {"README.TXT", "readme.txt"},
      {"sub\\..\\m.toml", "m.toml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    const AssemblyResult result =
        AssembleInstaller(platform(), drive_.WinPath("base.exe"), modules_,
                          drive_.WinPath(c.output), {}, {drive_.WinPath("m.toml")});
    EXPECT_EQ(result.step, AssemblyStep::OutputIsInput);
    EXPECT_EQ(result.input, drive_.WinPath(c.input));
  }
  EXPECT_EQ(drive_.ReadHostFile("m.toml"), "manifest");
  EXPECT_EQ(drive_.ReadHostFile("base.exe"), std::string(4096, '\0'));
  EXPECT_EQ(drive_.ReadHostFile("readme.txt"), "read me");
  EXPECT_EQ(testing::StagingFilesIn(drive_.HostPath("")), 0);
}

}  // namespace
}  // namespace brelvane
