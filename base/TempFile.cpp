#include "base/TempFile.h"

#include "base/Exceptions.h"
#include "base/Os.h"

namespace orvex {

TTempFile::TTempFile(std::string target) : FTarget(std::move(target)), FName(os::TempNameBeside(FTarget)) {}

TTempFile::~TTempFile() {
    // Fails only when the file was never made, or when nothing more can be done on the way out.
    if (!FCommitted) static_cast<void>(os::DeleteFile(FName));
}

bool TTempFile::Commit() {
    FCommitted = os::ReplaceFile(FName, FTarget);
    return FCommitted;
}

void TTempFile::CommitOrRaise() {
    if (Commit()) return;
    const int code = os::LastError();
    throw EFCreateError(Format(SFCreateError, FTarget.c_str(), os::ErrorText(code).c_str()));
}

void RemoveIfPresent(const std::string& name) {
    if (os::FileExists(name)) static_cast<void>(os::DeleteFile(name));
}

TRemovedOnExit::~TRemovedOnExit() { RemoveIfPresent(FName); }

}  // namespace orvex
