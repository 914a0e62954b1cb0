#include "tools/publish/KeyFiles_win.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvex;

// What the secret key file is created with: an access list protected from the folder's, with one
// entry, allowing the user alone. (Wine keeps Unix modes instead of access lists, so the file's
// own list cannot be read back there.)
TEST(OwnerOnlyDescriptor, GrantsTheCurrentUserAlone) {
    const TLocalMemory<void> descriptor = OwnerOnlyDescriptor();
    ASSERT_TRUE(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl != nullptr);
    ASSERT_EQ(acl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(acl, 0, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
    std::vector<BYTE> user = CurrentUser();
    ASSERT_FALSE(user.empty());
    EXPECT_TRUE(::EqualSid(&allowed->SidStart, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid));
}
