#pragma once
// Who signed a program file: its own Authenticode signature or, for the
// system's files, a catalog of the system's. The check reads the whole
// file and may take long; callers run it off the UI thread.

#include <cstdint>
#include <memory>
#include <string>

namespace kw {

enum class TSignatureKind : std::uint8_t {
  NotChecked,  // not a file on this machine, or it could not be opened now
  Signed,      // a signature that verifies, up to a root the system trusts
  Unsigned,    // no signature, embedded or in a catalog
  Invalid,     // a signature that does not verify: the file changed since, or an untrusted signer
};

struct TSignature {
  TSignatureKind Kind = TSignatureKind::NotChecked;
  // The signer's simple display name, exactly; empty unless Signed.
  std::u16string Signer;
  bool operator==(const TSignature& other) const {
    return Kind == other.Kind && Signer == other.Signer;
  }
};

// Which file a path names and how it stood: another file put in its place,
// however like the first in size and times, has another identity (volume and
// file index), and a file written in place has another change time. Both
// times can be set back by a program of the file's owner; the number of the
// file's last change in the volume's change journal cannot (0 where the
// volume keeps no journal).
struct TFileStamp {
  std::uint64_t Volume = 0;
  std::uint64_t FileIndex = 0;
  std::uint64_t Size = 0;
  std::uint64_t LastWrite = 0;
  std::uint64_t Changed = 0;
  std::uint64_t JournalNumber = {};
  bool operator==(const TFileStamp& other) const {
    return Volume == other.Volume && FileIndex == other.FileIndex && Size == other.Size &&
           LastWrite == other.LastWrite && Changed == other.Changed &&
           JournalNumber == other.JournalNumber;
  }
};

// One file held open from its stamp to its verdict: both are of the same file.
class ISignedFile {
 public:
  virtual ~ISignedFile() = default;
  virtual TFileStamp Stamp() = 0;
  virtual TSignature Verify() = 0;
};

class ISignatureCheck {
 public:
  virtual ~ISignatureCheck() = default;
  // Null for a path off this machine or a file that cannot be opened
  // without waiting on another program.
  virtual std::unique_ptr<ISignedFile> Open(const std::u16string& path) = 0;
};

}  // namespace kw
