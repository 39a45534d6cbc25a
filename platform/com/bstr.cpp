// BSTR texts: UTF-16 characters preceded by a 4-byte byte length and followed
// by a NUL, allocated with malloc so that leak checkers see every one.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/com/oleauto.h"
#include "platform/os/text.h"

namespace {

// The longest text a BSTR holds; its byte length still fits the 4-byte prefix
// with room for the terminator.
constexpr UINT kMaxBstrChars = 0x3FFFFFFF;
constexpr std::size_t kPrefixBytes = sizeof(std::uint32_t);

std::uint32_t StoredByteLength(BSTR bstr) {
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(bstr) - kPrefixBytes, kPrefixBytes);
  return bytes;
}

std::atomic<bool (*)()> g_allocationFault{nullptr};

}  // namespace

namespace com {
void SetValueAllocationFaultForTest(bool (*fail)()) { g_allocationFault.store(fail); }

bool detail::ValueAllocationFails() {
  bool (*fail)() = g_allocationFault.load(std::memory_order_relaxed);
  return fail != nullptr && fail();
}
}  // namespace com

BSTR SysAllocStringLen(const OLECHAR* pch, UINT len) {
  if (len > kMaxBstrChars) return nullptr;
  if (com::detail::ValueAllocationFails()) return nullptr;
  std::size_t textBytes = std::size_t{len} * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefixBytes + textBytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  auto byteLength = static_cast<std::uint32_t>(textBytes);
  std::memcpy(block, &byteLength, kPrefixBytes);
  auto* text = reinterpret_cast<OLECHAR*>(block + kPrefixBytes);
  // Without a source the text is zeroed, so a caller that fills only part of
  // it never leaves garbage behind.
  if (pch != nullptr) {
    std::memcpy(text, pch, textBytes);
  } else {
    std::memset(text, 0, textBytes);
  }
  text[len] = u'\0';
  return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  // A text with no NUL within the longest length a BSTR can hold is refused.
  std::size_t length = platform::BoundedLength(psz, std::size_t{kMaxBstrChars} + 1);
  if (length > kMaxBstrChars) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(length));
}

void SysFreeString(BSTR bstr) {
  if (bstr == nullptr) return;
  std::free(reinterpret_cast<unsigned char*>(bstr) - kPrefixBytes);
}

UINT SysStringLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  return StoredByteLength(bstr) / sizeof(OLECHAR);
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  return StoredByteLength(bstr);
}

BOOL SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  // The copy is made before the old text is freed, so psz may point into it.
  // A null source gives an empty text, as a reallocation always yields one.
  BSTR copy = psz != nullptr ? SysAllocString(psz) : SysAllocStringLen(nullptr, 0);
  if (copy == nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = copy;
  return TRUE;
}
