// One view of a named shared mapping whose first 8 bytes are its header: capacity (bytes in
// the data area, written once by the creator) and used (bytes of the data area holding data).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "os/shared_memory.h"

namespace Vantor::KQCP {

class ShareMapMemory {
 public:
  static constexpr std::uint32_t kHeaderSize = 8;
  static constexpr std::uint32_t kNotOpen = 0xFFFFFFFFu;

  ShareMapMemory() = default;
  virtual ~ShareMapMemory();
  ShareMapMemory(const ShareMapMemory&) = delete;
  ShareMapMemory& operator=(const ShareMapMemory&) = delete;

  // Fails when open already or when the name exists: creating never attaches to another
  // process's mapping.
  // result (may be null) tells why not, kBusy among others (see os::NamedObject).
  bool Create(const std::string& name, std::uint32_t capacity,
              std::uint32_t boundMs = os::kTransitionBoundMs, os::NamedResult* result = nullptr);
  // holdName false: map without keeping the name alive (see os::NamedObject::Open).
  bool Open(const std::string& name, bool holdName = true,
            std::uint32_t boundMs = os::kTransitionBoundMs, os::NamedResult* result = nullptr);
  // True while the mapped object is still the live one of its name.
  bool IsAlive() const { return open_ && mapping_->IsAlive(); }
  bool Close();
  bool IsOpen() const { return open_; }
  bool IsCreator() const { return creator_; }
  const std::string& Name() const { return name_; }

  // The header fields, bounded by what is really mapped, so that a corrupt header never leads
  // a caller outside the mapping. kNotOpen when closed.
  std::uint32_t GetCapacity() const;
  std::uint32_t GetUsedSize() const;
  // The capacity word as it stands, unchecked: for telling a scribbled header. kNotOpen when
  // closed.
  std::uint32_t CapacityWord() const { return open_ ? HeaderWord(0) : kNotOpen; }
  // The data area the mapping really has, whatever its header says; 0 when closed.
  std::uint32_t MappedCapacity() const;
  std::uint8_t* GetData() const { return data_; }

  bool Append(const void* source, std::uint32_t length);
  bool SetUsedSize(std::uint32_t length);
  // Writes the capacity word again, at most what is mapped: for the repair of a scribbled
  // header by the mapping's owner.
  void RestoreCapacity(std::uint32_t capacity);

 private:
  std::uint32_t HeaderWord(int index) const;
  void SetHeaderWord(int index, std::uint32_t value);
  void Attach(std::unique_ptr<os::SharedMemory> mapping, const std::string& name, bool creator);

  std::unique_ptr<os::SharedMemory> mapping_;
  bool open_ = false;
  bool creator_ = false;
  std::string name_;
  std::uint8_t* view_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

}  // namespace Vantor::KQCP
