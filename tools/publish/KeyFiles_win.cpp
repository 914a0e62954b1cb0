#include "tools/publish/KeyFiles.h"
#include "tools/publish/KeyFiles_win.h"

#include "base/Win32_win.h"

#include <sddl.h>

#include <vector>

namespace orvex {

std::vector<BYTE> CurrentUser() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
    const win32::THandle token(rawToken);
    DWORD size = 0;
    static_cast<void>(::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size));  // asks the size
    std::vector<BYTE> user(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size)) return {};
    return user;
}

TLocalMemory<void> OwnerOnlyDescriptor() {
    std::vector<BYTE> user = CurrentUser();
    if (user.empty()) return nullptr;
    char* rawSid = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &rawSid)) return nullptr;
    const TLocalMemory<char> sid(rawSid);
    const std::string sddl = std::string("D:P(A;;FA;;;") + sid.get() + ")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return TLocalMemory<void>(descriptor);
}

bool CreateOwnerOnlyFile(const std::string& fileName, const std::string& content) {
    const TLocalMemory<void> descriptor = OwnerOnlyDescriptor();
    if (!descriptor) return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    bool whole = false;
    DWORD error = ERROR_SUCCESS;
    {
        const win32::THandle file(::CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) return false;
        DWORD written = 0;
        whole = ::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                written == content.size() && ::FlushFileBuffers(file.Get());
        error = ::GetLastError();
    }
    if (!whole) {
        ::DeleteFileA(fileName.c_str());  // closed above: a half-written key is of no use
        ::SetLastError(error);
    }
    return whole;
}

}  // namespace orvex
