// Throughput of appending and extracting a large module, against a plain
// copy of the same file through the same platform seam and with host I/O.
//
//   package_bench [--size MiB] [--runs N] [--dir FOLDER]
//
// Prints the best time and the throughput of each operation (and of the
// CRC-32 and the scrambling alone, in memory), and the ratios append/copy and
// extract/copy (throughput relative to the plain copy through the seam;
// 1.0 means as fast as copying the file).  The append and the extraction
// flush what they write to the disk, so they are also set against a copy
// that does the same.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "package/content_check.h"
#include "package/package.h"
#include "platform/posix/posix_host.h"

namespace {

using namespace brelvane;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlock = 256 * 1024;

// The benchmark asks nothing and reads no registry.
class ConsolePromptsForBench : public Prompts {
 public:
  int Show(const Message& message) override {
    std::fprintf(stderr, "package_bench: %s\n", message.text.c_str());
    return win::kIdNo;
  }
  void BeginWait() override {}
  void EndWait() override {}
};
class NoKeysRegistry : public Registry {
 public:
  long OpenKey(RegKey, const std::string&, std::uint32_t, RegKey*) override { return 2; }
  long EnumKey(RegKey, std::uint32_t, std::size_t, std::string*) override { return 6; }
  long QueryValue(RegKey, const std::string&, std::uint32_t*, std::uint8_t*,
                  std::uint32_t*) override {
    return 6;
  }
  long CloseKey(RegKey) override { return 6; }
};

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "package_bench: %s\n", what.c_str());
  std::exit(1);
}

void WriteSource(const std::string& path, std::uint64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Die("cannot create " + path);
  std::vector<std::uint8_t> block(kBlock);
  std::uint32_t state = 12345;
  for (std::uint64_t done = 0; done < size;) {
    for (auto& byte : block) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(state >> 24);
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size - done));
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) Die("cannot write " + path);
    done += n;
  }
  ::close(fd);
}

void WriteImage(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Die("cannot create " + path);
  const std::vector<std::uint8_t> image(64 * 1024, 0);  // ends in zero padding
  if (::write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size())) {
    Die("cannot write " + path);
  }
  ::close(fd);
}

void CopyThroughSeam(FileSystem& files, const std::string& from, const std::string& to,
                     bool flush = false) {
  ScopedFile in(files, files.OpenRead(from));
  ScopedFile out(files, files.CreateExclusive(to));
  if (!in.valid() || !out.valid()) Die("seam copy cannot open its files");
  std::vector<std::uint8_t> block(kBlock);
  for (;;) {
    const std::int64_t got = files.Read(in.get(), block.data(), block.size());
    if (got < 0) Die("seam copy: read failed");
    if (got == 0) break;
    if (files.Write(out.get(), block.data(), static_cast<std::size_t>(got)) != got) {
      Die("seam copy: write failed");
    }
  }
  if (flush && !files.Flush(out.get())) Die("seam copy: flush failed");
}

void CopyWithHostIo(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (in < 0 || out < 0) Die("host copy cannot open its files");
  std::vector<std::uint8_t> block(kBlock);
  for (;;) {
    const ssize_t got = ::read(in, block.data(), block.size());
    if (got < 0) Die("host copy: read failed");
    if (got == 0) break;
    if (::write(out, block.data(), static_cast<std::size_t>(got)) != got) {
      Die("host copy: write failed");
    }
  }
  ::close(in);
  ::close(out);
}

bool SameContent(const std::string& a, const std::string& b) {
  const int fa = ::open(a.c_str(), O_RDONLY);
  const int fb = ::open(b.c_str(), O_RDONLY);
  if (fa < 0 || fb < 0) return false;
  std::vector<std::uint8_t> ba(kBlock), bb(kBlock);
  bool same = true;
  for (;;) {
    const ssize_t na = ::read(fa, ba.data(), ba.size());
    const ssize_t nb = ::read(fb, bb.data(), bb.size());
    if (na != nb || na < 0) {
      same = false;
      break;
    }
    if (na == 0) break;
    if (std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) {
      same = false;
      break;
    }
  }
  ::close(fa);
  ::close(fb);
  return same;
}

// Best of `runs` timings of `body`; `reset` runs untimed before each.
double BestSeconds(int runs, const std::function<void()>& reset,
                   const std::function<void()>& body) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    reset();
    const auto start = Clock::now();
    body();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// The CRC-32 and the scrambling alone, over `size` bytes taken as the
// package takes them: blocks of kCopyBlockSize already in memory.
double CrcSeconds(int runs, std::uint64_t size, std::vector<std::uint8_t>& block) {
  return BestSeconds(
      runs, [] {},
      [&] {
        Crc32 crc;
        for (std::uint64_t done = 0; done < size; done += block.size()) {
          crc.Update(block.data(), block.size());
        }
        block[0] ^= static_cast<std::uint8_t>(crc.Value());  // keeps the work observable
      });
}
double ScrambleSeconds(int runs, std::uint64_t size, std::vector<std::uint8_t>& block) {
  return BestSeconds(
      runs, [] {},
      [&] {
        for (std::uint64_t done = 0; done < size; done += block.size()) {
          for (std::size_t offset = 0; offset < block.size(); offset += kScrambleChunk) {
            ScrambleChunk(block.data() + offset, kScrambleChunk);
          }
        }
      });
}

}  // namespace

// The bench's options: the module's size, the runs, the folder (a fresh
// temporary one when none is named).
struct BenchOptions {
  std::uint64_t mebibytes = 256;
  int runs = 3;
  std::string dir;
  bool ownDir = false;
};

BenchOptions ParseOptions(int argc, char** argv) {
  BenchOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--size") options.mebibytes = std::strtoull(argv[i + 1], nullptr, 10);
    else if (flag == "--runs") options.runs = std::max(1, std::atoi(argv[i + 1]));
    else if (flag == "--dir") options.dir = argv[i + 1];
    else Die("usage: package_bench [--size MiB] [--runs N] [--dir FOLDER]");
  }
  if (options.dir.empty()) {
    char pattern[] = "/tmp/package_bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Die("cannot make a temporary folder");
    options.dir = pattern;
    options.ownDir = true;
  }
  return options;
}

// The best times of one run of the bench, in seconds.
struct Figures {
  double seamCopy, hostCopy, flushedCopy, crcAlone, scrambleAlone, append, extract;
};

void PrintFigures(const Figures& f, double mib) {
  std::printf("copy through the seam  %8.3f s  %8.1f MiB/s\n", f.seamCopy, mib / f.seamCopy);
  std::printf("copy with host I/O     %8.3f s  %8.1f MiB/s\n", f.hostCopy, mib / f.hostCopy);
  std::printf("copy, flushed to disk   %8.3f s  %8.1f MiB/s\n", f.flushedCopy, mib / f.flushedCopy);
  std::printf("CRC-32 alone           %8.3f s  %8.1f MiB/s\n", f.crcAlone, mib / f.crcAlone);
  std::printf("scrambling alone       %8.3f s  %8.1f MiB/s\n", f.scrambleAlone,
              mib / f.scrambleAlone);
  std::printf("append module          %8.3f s  %8.1f MiB/s\n", f.append, mib / f.append);
  std::printf("extract module         %8.3f s  %8.1f MiB/s\n", f.extract, mib / f.extract);
  std::printf("append/copy  %.2f   (against host I/O %.2f)\n", f.seamCopy / f.append,
              f.hostCopy / f.append);
  std::printf("extract/copy %.2f   (against host I/O %.2f)\n", f.seamCopy / f.extract,
              f.hostCopy / f.extract);
  // Both put their file on the disk before they report success.
  std::printf("append/flushed copy %.2f\n", f.flushedCopy / f.append);
  std::printf("extract/flushed copy %.2f\n", f.flushedCopy / f.extract);
}

// The best time of extracting the package's module to `extracted`.
double ExtractSeconds(const Platform& platform, const std::string& package,
                      const std::string& extracted, int runs) {
  std::int32_t offset = 0;
  ModuleRecord found;
  if (FindModule(platform, PackageRef{package}, "module.bin", &offset, false, &found, 0) <= 0) {
    Die("the appended module cannot be found");
  }
  return BestSeconds(
      runs, [&] { ::unlink(extracted.c_str()); },
      [&] {
        if (!ExtractModule(platform, PackageRef{package}, extracted, offset, found.contentSize,
                           win::kAttrNormal)) {
          Die("extract failed");
        }
      });
}

int main(int argc, char** argv) {
  const BenchOptions options = ParseOptions(argc, argv);
  const std::uint64_t mebibytes = options.mebibytes;
  const int runs = options.runs;
  const std::string& dir = options.dir;
  const std::string source = dir + "/module.bin";
  const std::string package = dir + "/installer.exe";
  const std::string copy = dir + "/copy.bin";
  const std::string extracted = dir + "/extracted.bin";
  const std::uint64_t size = mebibytes << 20;

  ConsolePromptsForBench prompts;
  NoKeysRegistry registry;
  PosixHost host(prompts, registry);
  const Platform platform = host.platform();
  FileSystem& files = platform.files;
  std::printf("package_bench: %llu MiB module, best of %d runs, in %s\n",
              static_cast<unsigned long long>(mebibytes), runs, dir.c_str());
  WriteSource(source, size);
  WriteImage(package);
  const std::int64_t imageLength = 64 * 1024;

  auto removeCopy = [&] { ::unlink(copy.c_str()); };
  auto cutPackage = [&] {
    if (::truncate(package.c_str(), imageLength) != 0) Die("cannot reset the package");
  };
  // One untimed pass of each, so every file starts in the page cache.
  removeCopy();
  CopyThroughSeam(files, source, copy);

  Figures f{};
  f.seamCopy = BestSeconds(runs, removeCopy, [&] { CopyThroughSeam(files, source, copy); });
  f.hostCopy = BestSeconds(runs, removeCopy, [&] { CopyWithHostIo(source, copy); });
  f.flushedCopy =
      BestSeconds(runs, removeCopy, [&] { CopyThroughSeam(files, source, copy, true); });
  std::vector<std::uint8_t> block(kCopyBlockSize, 0x5A);
  f.crcAlone = CrcSeconds(runs, size, block);
  f.scrambleAlone = ScrambleSeconds(runs, size, block);
  ModuleRecord record;
  if (!BuildModuleRecord(platform, source, record, "", std::nullopt))
    Die("cannot describe the module");
  f.append = BestSeconds(runs, cutPackage, [&] {
    if (AppendModule(platform, source, package, record) != AppendResult::Appended)
      Die("append failed");
  });
  f.extract = ExtractSeconds(platform, package, extracted, runs);
  if (!SameContent(source, extracted)) Die("the extracted module differs from its source");

  PrintFigures(f, static_cast<double>(mebibytes));

  for (const std::string& path : {source, package, copy, extracted}) ::unlink(path.c_str());
  if (options.ownDir) ::rmdir(dir.c_str());
  return 0;
}
