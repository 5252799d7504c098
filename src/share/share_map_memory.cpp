// Shared mapping with its capacity/used header; header words are little-endian 32-bit.
#include "share/share_map_memory.h"

#include <algorithm>
#include <cstring>

namespace Vantor::KQCP {

ShareMapMemory::~ShareMapMemory() { Close(); }

void ShareMapMemory::Attach(std::unique_ptr<os::SharedMemory> mapping, const std::string& name,
                            bool creator) {
  mapping_ = std::move(mapping);
  view_ = static_cast<std::uint8_t*>(mapping_->Data());
  data_ = view_ + kHeaderSize;
  name_ = name;
  creator_ = creator;
  open_ = true;
}

bool ShareMapMemory::Create(const std::string& name, std::uint32_t capacity, std::uint32_t boundMs,
                            os::NamedResult* result) {
  if (open_) return false;
  os::NamedResult ignored{};
  auto mapping = os::SharedMemory::Create(name, std::size_t{capacity} + kHeaderSize,
                                          result ? result : &ignored, boundMs);
  if (!mapping) return false;
  Attach(std::move(mapping), name, true);
  SetHeaderWord(0, capacity);
  SetHeaderWord(1, 0);
  return true;
}

bool ShareMapMemory::Open(const std::string& name, bool holdName, std::uint32_t boundMs,
                          os::NamedResult* result) {
  if (open_) return false;
  os::NamedResult ignored{};
  auto mapping = os::SharedMemory::Open(name, result ? result : &ignored, holdName, boundMs);
  if (!mapping || mapping->Size() < kHeaderSize) return false;
  Attach(std::move(mapping), name, false);
  return true;
}

bool ShareMapMemory::Close() {
  if (!open_ || !mapping_) return false;
  mapping_.reset();
  view_ = nullptr;
  data_ = nullptr;
  open_ = false;
  return true;
}

std::uint32_t ShareMapMemory::HeaderWord(int index) const {
  std::uint32_t value = 0;
  std::memcpy(&value, view_ + 4 * index, sizeof value);
  return value;
}

void ShareMapMemory::SetHeaderWord(int index, std::uint32_t value) {
  std::memcpy(view_ + 4 * index, &value, sizeof value);
}

std::uint32_t ShareMapMemory::MappedCapacity() const {
  if (!open_) return 0;
  return static_cast<std::uint32_t>(
      std::min<std::size_t>(mapping_->Size() - kHeaderSize, 0xFFFFFFFFu));
}

std::uint32_t ShareMapMemory::GetCapacity() const {
  if (!open_) return kNotOpen;
  return std::min(HeaderWord(0), MappedCapacity());
}

std::uint32_t ShareMapMemory::GetUsedSize() const {
  if (!open_) return kNotOpen;
  return std::min(HeaderWord(1), GetCapacity());
}

bool ShareMapMemory::Append(const void* source, std::uint32_t length) {
  if (!open_) return false;
  const std::uint32_t capacity = GetCapacity();
  const std::uint32_t used = HeaderWord(1);
  if (used > capacity || capacity - used < length) return false;
  if (length) std::memcpy(data_ + used, source, length);
  SetHeaderWord(1, used + length);
  return true;
}

void ShareMapMemory::RestoreCapacity(std::uint32_t capacity) {
  if (open_) SetHeaderWord(0, std::min(capacity, MappedCapacity()));
}

bool ShareMapMemory::SetUsedSize(std::uint32_t length) {
  if (!open_ || GetCapacity() < length) return false;
  SetHeaderWord(1, length);
  return true;
}

}  // namespace Vantor::KQCP
