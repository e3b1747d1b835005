// The copy of a backup file to an S3 store on loopback through S3Storage,
// against curl's own signed upload of the same file in the same run; run by
// hand:
//
//   s3_copy_bench [megabytes] [part-megabytes] [file]
//
// (default 1024 MiB of random bytes, the program's own part size).
//
// The store is moto's server, or s3rver when QN_S3RVER names its program
// (QN_S3RVER=$(bench/storage/fetch-s3rver.sh build/_deps/s3rver)).
//
// moto's server is started on loopback with signatures checked. The copy runs
// in a child process of its own, so that its peak resident memory is the
// copy's alone; it is then proven (Check) and removed. curl uploads the same
// file as one PUT ("curl --aws-sigv4 ... -T FILE"), with the file's SHA-256
// taken beforehand and not timed, so curl only sends. Both stores assemble
// a multipart upload in seconds (moto in Python in memory, s3rver by
// reading its parts back from disk), which a single PUT does not pay and no
// client can shorten; a large backup still goes in parts, so that at most
// two parts are ever in memory and a failed part is sent again alone. Prints both times,
// their rates, the copy's peak memory and, last, the ratio of the program's
// rate to curl's. moto assembles a multipart upload slowly (in Python, in
// memory), which a single PUT does not pay: the time until the store had
// taken the last part is printed too, with its ratio to curl's.
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "base/sha256.h"
#include "storage/moto_server.h"
#include "storage/s3rver_server.h"
#include "storage/s3_storage.h"

namespace {

using Clock = std::chrono::steady_clock;
using qn::storage::ByteSource;
using qn::storage::S3Config;
using qn::storage::S3Storage;

class FileReader : public ByteSource {
 public:
  explicit FileReader(const std::string& path) : in_(path, std::ios::binary) {
    size_ = static_cast<int64_t>(std::filesystem::file_size(path));
  }
  int64_t Size() const override { return size_; }
  size_t Read(char* buffer, size_t capacity) override {
    in_.read(buffer, static_cast<std::streamsize>(capacity));
    return static_cast<size_t>(in_.gcount());
  }

 private:
  std::ifstream in_;
  int64_t size_ = 0;
};

long partMegabytes = 0;

// The store on loopback: moto, or s3rver when QN_S3RVER names its program.
struct Store {
  std::string name;
  std::string endpoint, accessKey, secretKey, error;
  std::unique_ptr<qntest::MotoServer> moto;
  std::unique_ptr<qntest::S3rverServer> s3rver;
  Store() {
    const char* s3rverProgram = std::getenv("QN_S3RVER");
    if (s3rverProgram && *s3rverProgram) {
      name = "s3rver";
      s3rver = std::make_unique<qntest::S3rverServer>(s3rverProgram);
      error = s3rver->Error();
      endpoint = s3rver->Endpoint();
      accessKey = s3rver->AccessKey();
      secretKey = s3rver->SecretKey();
    } else {
      name = "moto";
      moto = std::make_unique<qntest::MotoServer>();
      error = moto->Error();
      endpoint = moto->Endpoint();
      accessKey = moto->AccessKey();
      secretKey = moto->SecretKey();
    }
  }
  const std::string& Error() const { return error; }
  const std::string& Endpoint() const { return endpoint; }
  const std::string& AccessKey() const { return accessKey; }
  const std::string& SecretKey() const { return secretKey; }
};

S3Config Config(const Store& server) {
  S3Config c;
  c.endpoint = server.Endpoint();
  c.region = "us-east-1";
  c.bucket = "bench-copies";
  c.prefix = "office1/";
  c.accessKey = server.AccessKey();
  c.secretKey = server.SecretKey();
  if (partMegabytes > 0) c.partSize = static_cast<size_t>(partMegabytes) << 20;
  return c;
}

std::string Sha256OfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string buffer(1 << 20, '\0');
  qn::TqnSha256 sha;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
    sha.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  return sha.HexDigest();
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::atol(argv[1]) : 1024;
  partMegabytes = argc > 2 ? std::atol(argv[2]) : 0;
  std::string file = argc > 3 ? argv[3] : "";
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("s3bench." + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(folder);
  if (file.empty()) {
    file = folder + "/backup.fbk";
    std::ofstream out(file, std::ios::binary);
    std::mt19937_64 random(1);
    std::string block(1 << 20, '\0');
    for (long i = 0; i < megabytes; ++i) {
      for (size_t k = 0; k + 8 <= block.size(); k += 8) {
        const uint64_t v = random();
        std::memcpy(block.data() + k, &v, 8);
      }
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  const double size = static_cast<double>(std::filesystem::file_size(file));
  Store server;
  if (!server.Error().empty()) {
    std::fprintf(stderr, "%s\n", server.Error().c_str());
    return 1;
  }
  S3Storage(Config(server)).CreateBucket(false);
  std::printf("file: %.0f MiB; %s on %s; part size %zu MiB\n", size / 1048576, server.name.c_str(),
              server.Endpoint().c_str(), Config(server).partSize >> 20);

  std::fflush(stdout);
  // When the store had taken the last part, written by the child.
  double* partsSeconds =
      static_cast<double*>(::mmap(nullptr, sizeof(double), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  const auto copyStart = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    try {
      S3Config config = Config(server);
      config.onStored = [&](int64_t stored) {
        if (static_cast<double>(stored) == size)
          *partsSeconds = std::chrono::duration<double>(Clock::now() - copyStart).count();
      };
      S3Storage s3(config);
      FileReader source(file);
      const qn::storage::WrittenObject written = s3.Write("bench.fbk", source);
      std::string why;
      if (!s3.Check("bench.fbk", written, &why)) {
        std::fprintf(stderr, "check failed: %s\n", why.c_str());
        ::_exit(2);
      }
      std::printf("copy: %lld bytes, ETag %s\n", static_cast<long long>(written.size), written.storeChecksum.c_str());
      std::fflush(stdout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "copy failed: %s\n", e.what());
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  const double copySeconds = std::chrono::duration<double>(Clock::now() - copyStart).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  S3Storage(Config(server)).Remove("bench.fbk");

  const std::string sha = Sha256OfFile(file);
  const std::string command = "curl -sS -f -o /dev/null --aws-sigv4 aws:amz:us-east-1:s3 --user '" +
                              server.AccessKey() + ":" + server.SecretKey() + "' -H 'x-amz-content-sha256: " + sha +
                              "' -T '" + file + "' '" + server.Endpoint() + "/bench-copies/office1/curl.fbk'";
  const auto curlStart = Clock::now();
  const int curlStatus = std::system(command.c_str());
  const double curlSeconds = std::chrono::duration<double>(Clock::now() - curlStart).count();
  if (curlStatus != 0) {
    std::fprintf(stderr, "curl failed\n");
    return 1;
  }
  S3Storage(Config(server)).Remove("curl.fbk");
  std::filesystem::remove_all(folder);

  const double copyRate = size / 1048576 / copySeconds, curlRate = size / 1048576 / curlSeconds;
  std::printf("S3Storage copy (multipart, SHA-256 and MD5 of each part): %.2f s, %.1f MiB/s, peak memory %.1f MB\n",
              copySeconds, copyRate, usage.ru_maxrss / 1024.0);
  std::printf(
      "  of which the parts until the last was stored: %.2f s, %.1f MiB/s; the store's assembly and the "
      "check: %.2f s\n",
      *partsSeconds, size / 1048576 / *partsSeconds, copySeconds - *partsSeconds);
  std::printf("curl --aws-sigv4 -T (one PUT, hash taken beforehand):     %.2f s, %.1f MiB/s\n", curlSeconds, curlRate);
  std::printf("ratio of the parts' upload to curl's: %.2f\n", size / *partsSeconds / (size / curlSeconds));
  std::printf("ratio (program / curl): %.2f\n", copyRate / curlRate);
  return 0;
}
