#include "tools/fbserver30/password.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/error.h"
#include "base/text.h"
#include "firebird/fb30_password.h"
#include "platform/files.h"

namespace fbserver30 {

std::string RandomPassword() {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr unsigned kSize = sizeof kAlphabet - 1;  // 62
  std::string out;
  while (out.size() < kPasswordLength) {
    unsigned char bytes[64];
    const ssize_t n = ::getrandom(bytes, sizeof bytes, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw qn::Exception("the system's random source failed: " + qn::platform::LastErrorText());
    }
    // Bytes of 248 and up are dropped, so that every character is equally likely.
    for (ssize_t i = 0; i < n && out.size() < kPasswordLength; ++i)
      if (bytes[i] < 248) out += kAlphabet[bytes[i] % kSize];
  }
  return out;
}

std::string InstancePassword(const TInstance& instance) {
  const std::string file = qn::Fb30PasswordFile(instance.base);
  std::string kept;
  if (qn::ReadFb30PasswordFile(file, kept)) return kept;
  const std::string password = RandomPassword();
  // Made unreadable first, then given to the group: never readable by others.
  const std::string temp = file + ".new";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw qn::Exception("cannot create " + temp + ": " + qn::platform::LastErrorText());
  const std::string text = password + "\n";
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  // Root gives it to the group. The service's own user may not change a
  // group under its unit's system call filter; the package's configure
  // step keeps the password as root before the unit first starts.
  if (const group* g = ::getgrnam(kPasswordGroup))
    if (ok && ::fchown(fd, static_cast<uid_t>(-1), g->gr_gid) != 0 && ::geteuid() == 0) ok = false;
  ok = ok && ::fchmod(fd, 0640) == 0;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    const std::string why = qn::platform::LastErrorText();
    ::unlink(temp.c_str());
    throw qn::Exception("cannot keep the SYSDBA password in " + file + ": " + why);
  }
  return password;
}

int RunKeepPassword(const TInstance& instance) {
  if (::geteuid() != 0) {
    std::fprintf(stderr, "fbserver30: only root keeps the SYSDBA password for the group %s\n", kPasswordGroup);
    return 1;
  }
  qn::platform::ForceDirectories(instance.base);
  InstancePassword(instance);
  return 0;
}

int RunShowPassword(const TInstance& instance) {
  if (::geteuid() != 0) {
    std::fprintf(stderr, "fbserver30: only root is told the SYSDBA password (it is in %s)\n",
                 qn::Fb30PasswordFile(instance.base).c_str());
    return 1;
  }
  std::string kept;
  if (!qn::ReadFb30PasswordFile(qn::Fb30PasswordFile(instance.base), kept)) {
    std::fprintf(stderr, "fbserver30: no SYSDBA password is kept in %s (the instance is not set up)\n",
                 qn::Fb30PasswordFile(instance.base).c_str());
    return 1;
  }
  std::printf("%s\n", kept.c_str());
  return 0;
}

}  // namespace fbserver30
