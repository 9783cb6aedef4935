#include "upload/FolderOwnership.h"

#include <windows.h>
#include <aclapi.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "rtl/Utf8Path.h"

namespace {

[[noreturn]] void Fail(const std::string& path, const char* action) {
    throw std::runtime_error("cannot write " + path + " (" + action + " failed, error " +
                             std::to_string(::GetLastError()) + ")");
}

struct LocalFreer {
    void operator()(void* p) const { ::LocalFree(p); }
};

// The folder's owner, SYSTEM and Administrators may use the file; nothing
// is inherited from the folder, so no one else may.
void GiveToFolderOwner(const std::wstring& folder, const std::wstring& file, const std::string& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        Fail(path, "reading the folder's owner");
    std::unique_ptr<void, LocalFreer> descriptorHolder(descriptor);
    BYTE systemSid[SECURITY_MAX_SID_SIZE], adminsSid[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof systemSid, adminsSize = sizeof adminsSid;
    if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize) ||
        !::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsSid, &adminsSize))
        Fail(path, "CreateWellKnownSid");
    EXPLICIT_ACCESSW access[3] = {};
    PSID sids[3] = {owner, systemSid, adminsSid};
    for (int i = 0; i < 3; ++i) {
        access[i].grfAccessPermissions = GENERIC_ALL;
        access[i].grfAccessMode = SET_ACCESS;
        access[i].grfInheritance = NO_INHERITANCE;
        access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access[i].Trustee.ptstrName = static_cast<LPWSTR>(sids[i]);
    }
    PACL acl = nullptr;
    if (::SetEntriesInAclW(3, access, nullptr, &acl) != ERROR_SUCCESS) Fail(path, "SetEntriesInAcl");
    std::unique_ptr<void, LocalFreer> aclHolder(acl);
    if (::SetNamedSecurityInfoW(const_cast<LPWSTR>(file.c_str()), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                                nullptr) != ERROR_SUCCESS)
        Fail(path, "SetNamedSecurityInfo");
}

}  // namespace

void WritePrivateFile(const std::string& folder, const std::string& path, const std::string& bytes) {
    const std::filesystem::path target = PathFromUtf8(path);
    std::filesystem::path temporary = target;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write " + path);
        out.close();
    }
    // The ACL before the secret goes in.
    GiveToFolderOwner(PathFromUtf8(folder).wstring(), temporary.wstring(), path);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.close();
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Fail(path, "MoveFileEx");
}

// The ACL WritePrivateFile sets admits no one else; a file whose ACL was
// changed afterwards is not judged here.
std::optional<std::string> OthersMayRead(const std::string&) { return std::nullopt; }

std::optional<std::string> OwnerToRunAs(const std::string&) { return std::nullopt; }

// A file made in a folder inherits the folder's ACL.
void ShareWithFolderGroup(const std::string&, const std::string&) {}
