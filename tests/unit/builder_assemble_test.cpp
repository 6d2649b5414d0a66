// Assembling an installer under injected file-system failures: the output
// holds either the former installer or the whole new one, never a part.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "builder/assemble.h"
#include "builder/installer_build.h"
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
// A signed build that cannot read its installer back, or cannot clear its
// bits for the signer, says so in the maker's words, wherever it happens: a
// failure of the disk is never taken for other modules or a failed check.
// (The signer is "true", which signs nothing: unfailed, the build ends
// finding no signature.)
TEST_F(Assemble, ASignedBuildNamesTheFailedStep) {
  using Op = testing::FaultyFileSystem::Op;
  BuildPlan plan;
  plan.manifestPath = drive_.WinPath("m.toml");
  plan.manifest.basePath = drive_.WinPath("base.exe");
  plan.manifest.sign = SignCommand{{"true", kSignInPlace}};
  for (const AssemblyModule& module : modules_) {
    plan.manifest.modules.push_back({"src", module.sourcePath, {}, "", "", win::kAttrNormal, {}});
    plan.records.push_back(module.record);
  }
  const auto build = [&] {
    drive_.WriteHostFile("out.exe", kFormer);
    return BuildFromPlan(platform(), plan, drive_.WinPath("out.exe")).problem;
  };
  test_.faults().Reset();
  ASSERT_NE(build().find("without a signature"), std::string::npos);
  const struct {
    Op op;
    const char* named;
  } cases[] = {{Op::Read, "cannot read back the installer built beside"},
               {Op::SetAttributes, "cannot hand the installer built beside"}};
  for (const auto& c : cases) {
    test_.faults().Reset();
    build();
    const int calls = test_.faults().Count(c.op);
    bool named = false;
    for (int nth = 1; nth <= calls; ++nth) {
      test_.faults().Reset();
      test_.faults().FailNth(c.op, nth, kInjected);
      const std::string problem = build();
      named = named || problem.find(c.named) != std::string::npos;
      EXPECT_EQ(problem.find("fails verification"), std::string::npos) << problem;
      EXPECT_EQ(problem.find("other modules"), std::string::npos) << problem;
      EXPECT_EQ(drive_.ReadHostFile("out.exe"), kFormer);
    }
    EXPECT_TRUE(named) << c.named;
  }
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
