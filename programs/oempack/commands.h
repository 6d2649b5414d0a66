// The oempack commands, written against the platform seam.  Each returns the
// process exit status: 0 success, 1 the operation failed (one line on stderr
// names the cause).
#pragma once

#include <string>

#include "builder/predefined_modules.h"
#include "platform/platform.h"

namespace brelvane::oempack {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Options {
  bool progress = false;  // draw progress bars on stderr
  bool strict = false;    // build: a module no install installs fails the build
};

int ListModules(const Platform& platform, const std::string& installer, bool json);
int AddModule(const Platform& platform, const std::string& installer, const std::string& file,
              const Options& options);
int AddPredefined(const Platform& platform, const std::string& installer,
                  const PredefinedRequest& request, const Options& options);
// Checks every module that carries a content check: 0 when all are sound,
// 1 with one line on stderr per damaged module or foreign record.
int VerifyModules(const Platform& platform, const std::string& installer);
// Removes the certificate table of a signed installer (UnsignPackage), so
// that modules can be added; 0 also when it is not signed.
int UnsignInstaller(const Platform& platform, const std::string& installer);
// Cuts a Windows program back to its last whole module (RepairPackage),
// after one line per thing it cuts; 0 also when there is nothing to cut.
int RepairInstaller(const Platform& platform, const std::string& installer);
int ExtractNamedModule(const Platform& platform, const std::string& installer,
                       const std::string& name, const std::string& output, bool force,
                       const Options& options);

}  // namespace brelvane::oempack
