#include "vynStreams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vyn {

int64_t TStream::Size() {
  const int64_t pos = Seek(0, soCurrent);
  const int64_t end = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return end;
}

void TStream::SetSize(int64_t) { EStreamError::Toss(u"Stream size cannot be changed"); }

void TStream::ReadBuffer(void* ABuffer, int64_t ACount) {
  auto* p = static_cast<uint8_t*>(ABuffer);
  while (ACount > 0) {
    const int64_t n = Read(p, ACount);
    if (n <= 0) EReadError::Toss(u"Stream read error");
    p += n;
    ACount -= n;
  }
}

void TStream::WriteBuffer(const void* ABuffer, int64_t ACount) {
  const auto* p = static_cast<const uint8_t*>(ABuffer);
  while (ACount > 0) {
    const int64_t n = Write(p, ACount);
    if (n <= 0) EWriteError::Toss(u"Stream write error");
    p += n;
    ACount -= n;
  }
}

int64_t TStream::CopyFrom(TStream& ASource, int64_t ACount) {
  if (ACount == 0) {
    ASource.SetPosition(0);
    ACount = ASource.Size();
  }
  std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(ACount, 65536)));
  int64_t done = 0;
  while (done < ACount) {
    const int64_t n = std::min<int64_t>(ACount - done, static_cast<int64_t>(block.size()));
    ASource.ReadBuffer(block.data(), n);
    WriteBuffer(block.data(), n);
    done += n;
  }
  return done;
}

int64_t TMemoryStream::Read(void* ABuffer, int64_t ACount) {
  const int64_t avail = Size() - FPosition;
  const int64_t n = std::max<int64_t>(0, std::min(ACount, avail));
  if (n > 0) std::memcpy(ABuffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount <= 0) return 0;
  const int64_t end = FPosition + ACount;
  if (end > Size()) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, ABuffer, static_cast<size_t>(ACount));
  FPosition = end;
  return ACount;
}

int64_t TMemoryStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  switch (AOrigin) {
    case soBeginning: FPosition = AOffset; break;
    case soCurrent: FPosition += AOffset; break;
    case soEnd: FPosition = Size() + AOffset; break;
  }
  if (FPosition < 0) FPosition = 0;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t ASize) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(ASize, 0)));
  if (FPosition > ASize) FPosition = Size();
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const String& AFileName) {
  TFileStream file(AFileName, fmOpenRead);
  Clear();
  FData.resize(static_cast<size_t>(file.Size()));
  file.ReadBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TMemoryStream::SaveToFile(const String& AFileName) {
  TFileStream file(AFileName, fmCreate);
  file.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

TStringStream::TStringStream(const String& AText) {
  const std::string utf8 = ToUtf8(AText);
  FData.assign(utf8.begin(), utf8.end());
}

String TStringStream::DataString() const {
  return FromUtf8(std::string_view(reinterpret_cast<const char*>(FData.data()), FData.size()));
}

TFileStream::TFileStream(const String& AFileName, uint32_t AMode) : FFileName(AFileName) {
  const std::string path = ToUtf8(AFileName);
  const bool create = (AMode & fmCreate) == fmCreate;
  int flags = O_CLOEXEC;
  if (create) flags |= O_RDWR | O_CREAT | O_TRUNC;
  else if ((AMode & 3) == fmOpenWrite) flags |= O_WRONLY;
  else if ((AMode & 3) == fmOpenReadWrite) flags |= O_RDWR;
  else flags |= O_RDONLY;
  FHandle = ::open(path.c_str(), flags, 0644);
  if (FHandle < 0) {
    const String reason = FromUtf8(std::strerror(errno));
    if (create) EFCreateError::Toss(Format(u"Cannot create file \"%s\". %s", {AFileName, reason}));
    EFOpenError::Toss(Format(u"Cannot open file \"%s\". %s", {AFileName, reason}));
  }
  if (!create && (AMode & fmShareDenyWrite) && ::flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
    const String reason = FromUtf8(std::strerror(errno));
    ::close(FHandle);
    FHandle = -1;
    EFOpenError::Toss(Format(u"Cannot open file \"%s\". %s", {AFileName, reason}));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* ABuffer, int64_t ACount) {
  ssize_t n;
  do n = ::read(FHandle, ABuffer, static_cast<size_t>(std::max<int64_t>(ACount, 0)));
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : n;
}

int64_t TFileStream::Write(const void* ABuffer, int64_t ACount) {
  ssize_t n;
  do n = ::write(FHandle, ABuffer, static_cast<size_t>(std::max<int64_t>(ACount, 0)));
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : n;
}

int64_t TFileStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  const int whence = AOrigin == soBeginning ? SEEK_SET : AOrigin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t r = ::lseek(FHandle, AOffset, whence);
  return r < 0 ? -1 : r;
}

void TFileStream::SetSize(int64_t ASize) {
  if (::ftruncate(FHandle, ASize) != 0) EStreamError::Toss(FromUtf8(std::strerror(errno)));
}

}  // namespace vyn
