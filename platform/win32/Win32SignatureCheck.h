#pragma once
// Signature checks with WinVerifyTrust: a file's own Authenticode signature,
// else a catalog of the system's that holds its hash.

#include "platform/SignatureCheck.h"

namespace kw::win32 {

class TWin32SignatureCheck : public ISignatureCheck {
 public:
  std::unique_ptr<ISignedFile> Open(const std::u16string& path) override;
};

}  // namespace kw::win32
