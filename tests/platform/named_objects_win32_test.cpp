// Machine-wide names on Windows against the real system: the service's
// objects carry their own access list, and a name that refuses this user
// still counts as existing.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "platform/named_objects.h"
#include "test_support/child_process.h"

using namespace qn::platform;
using qntest::UniqueName;

namespace {

struct Grant {
  std::string who;  // the trustee's SID in string form
  DWORD mask;
};

std::string SidText(PSID sid) {
  LPSTR text = nullptr;
  if (!::ConvertSidToStringSidA(sid, &text)) return {};
  std::string s(text);
  ::LocalFree(text);
  return s;
}

// The explicit grants of a kernel object's access list, read back from the
// object itself.
std::vector<Grant> GrantsOf(const std::string& name) {
  HANDLE h = ::OpenMutexA(READ_CONTROL, FALSE, name.c_str());
  if (!h) h = ::OpenEventA(READ_CONTROL, FALSE, name.c_str());
  if (!h) h = ::OpenFileMappingA(READ_CONTROL, FALSE, name.c_str());
  if (!h) return {};
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  std::vector<Grant> grants;
  if (::GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) ==
          ERROR_SUCCESS &&
      dacl) {
    ULONG count = 0;
    PEXPLICIT_ACCESS_W entries = nullptr;
    if (::GetExplicitEntriesFromAclW(dacl, &count, &entries) == ERROR_SUCCESS) {
      for (ULONG i = 0; i < count; ++i)
        if (entries[i].grfAccessMode == GRANT_ACCESS && entries[i].Trustee.TrusteeForm == TRUSTEE_IS_SID)
          grants.push_back({SidText(static_cast<PSID>(static_cast<void*>(entries[i].Trustee.ptstrName))),
                            entries[i].grfAccessPermissions});
      ::LocalFree(entries);
    }
  }
  if (sd) ::LocalFree(sd);
  ::CloseHandle(h);
  return grants;
}

// Full access: the generic right as written, or what the kernel mapped it to.
bool Full(DWORD mask) {
  return (mask & GENERIC_ALL) ||
         ((mask & STANDARD_RIGHTS_REQUIRED) == STANDARD_RIGHTS_REQUIRED && (mask & SYNCHRONIZE));
}

DWORD GrantTo(const std::vector<Grant>& grants, const std::string& sid) {
  for (const Grant& g : grants)
    if (g.who == sid) return g.mask;
  return 0;
}

constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kAuthenticatedUsers = "S-1-5-11";

}  // namespace

TEST(Win32NamedObjects, MachineWideNamesLetOtherUsersOnlyLearnThatTheyExist) {
  const std::string base = "Global\\" + UniqueName("qn.test.acl");
  auto mutex = NamedMutex::Create(base + ".mutex", true);
  auto event = NamedEvent::Create(base + ".event", true, false);
  auto section = SharedMemory::Create(base + ".mapping", 4096);
  for (const std::string& name : {base + ".mutex", base + ".event", base + ".mapping"}) {
    SCOPED_TRACE(name);
    const auto grants = GrantsOf(name);
    ASSERT_EQ(grants.size(), 3u);
    EXPECT_TRUE(Full(GrantTo(grants, kSystem)));
    EXPECT_TRUE(Full(GrantTo(grants, kAdministrators)));
    // Neither SYNCHRONIZE (taking the service's mutexes) nor any more.
    EXPECT_EQ(GrantTo(grants, kAuthenticatedUsers), static_cast<DWORD>(READ_CONTROL));
  }
  // A name of the session keeps the creator's own defaults.
  const std::string local = UniqueName("qn.test.acl.local");
  auto own = NamedMutex::Create(local, false);
  EXPECT_EQ(GrantTo(GrantsOf(local), kAuthenticatedUsers), 0u);
}

TEST(Win32NamedObjects, ANameThatRefusesThisUserStillExists) {
  // As the service's names look to an ordinary user: the system's, and
  // nobody may open them.
  const std::string name = "Global\\" + UniqueName("qn.test.refused");
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("O:SYG:SYD:P", SDDL_REVISION_1, &sd, nullptr));
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  HANDLE theirs = ::CreateMutexA(&sa, TRUE, name.c_str());
  ::LocalFree(sd);
  ASSERT_NE(theirs, nullptr);
  ASSERT_EQ(::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the system does not refuse";

  auto known = NamedMutex::Open(name);
  ASSERT_NE(known, nullptr) << "a refused name reads as no name";
  EXPECT_EQ(known->Wait(0), WaitResult::Failed);
  bool existed = false;
  auto again = NamedMutex::Create(name, true, &existed);
  EXPECT_TRUE(existed);
  EXPECT_EQ(again->Wait(0), WaitResult::Failed);
  ::CloseHandle(theirs);
  EXPECT_EQ(NamedMutex::Open(name), nullptr) << "the name outlived its last handle";
}
