// A request or reply between the service and a client: name, kind, id, routing strings and a
// byte buffer. The buffer's allocation keeps 8 bytes in front of the data, where kind and id
// are written when the operation is sent, so the record payload goes out without a copy.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/critical_section.h"
#include "com/object.h"
#include "kqcp/share.h"

namespace Vantor::KQCP {

class SharePackageDataQueue;

class ShareSessionOperation : public com::RefCounted<com::ComponentObject, IShareSessionOperation> {
 public:
  static constexpr std::int32_t kMaxBuffer = 0x400000;
  static constexpr std::uint32_t kHeaderBytes = 8;

  HRESULT SetId(std::int32_t id) override;
  HRESULT GetId(std::int32_t* id) override;
  HRESULT SetKind(std::int32_t kind) override;
  HRESULT GetKind(std::int32_t* kind) override;
  HRESULT SetName(const char* name) override;
  HRESULT GetName(char* buffer, std::uint32_t length) override;
  HRESULT SetSession(const char* session) override;
  HRESULT GetSession(char* buffer, std::uint32_t length) override;
  HRESULT SetTarget(const char* target) override;
  HRESULT GetTarget(char* buffer, std::uint32_t length) override;
  HRESULT SetSender(const char* sender) override;
  HRESULT GetSender(char* buffer, std::uint32_t length) override;
  HRESULT AllocBuffer(std::int32_t length) override;
  HRESULT GetBuffer(std::uint8_t** data, std::int32_t* size) override;

  // Fills the operation from a received record's payload (kind, id, data); a payload of 8
  // bytes or fewer gives an empty buffer.
  bool LoadPayload(const std::uint8_t* payload, std::int32_t length);

  // Calls send(payload, length) with the record payload (kind, id, data) under the operation's
  // lock. An operation without a buffer goes out with an empty data part.
  template <class Send>
  auto WithPayload(Send send) {
    VEXO::System::Thread::ScopedLock guard(lock_);
    std::uint8_t* block = allocation_ ? allocation_.get() : emptyHeader_;
    std::memcpy(block, &kind_, 4);
    std::memcpy(block + 4, &id_, 4);
    return send(static_cast<const std::uint8_t*>(block),
                static_cast<std::int32_t>(dataSize_ + kHeaderBytes));
  }

  // Strings for routing, read under the lock.
  std::string Name() const;
  std::string Target() const;
  std::string Session() const;
  std::string Sender() const;
  // Bytes of the queue record this operation makes when a process of that own name sends it.
  std::uint64_t RecordBytes(const std::string& senderName) const;

  // The receiver process a reply must reach: the one whose request it answers. A received
  // request carries its sender's queue, and CreateReply hands it on.
  void SetRoute(std::shared_ptr<SharePackageDataQueue> route);
  std::shared_ptr<SharePackageDataQueue> Route() const;

 private:
  HRESULT Copy(const std::string& text, char* buffer, std::uint32_t length) const;
  // Replaces the buffer with one of length data bytes (0 allowed).
  bool Allocate(std::int32_t length);

  std::string name_;
  std::string target_;
  std::string sender_;
  std::string session_;
  std::int32_t kind_ = 0;
  std::int32_t id_ = 0;
  std::int32_t dataSize_ = 0;
  std::unique_ptr<std::uint8_t[]> allocation_;
  std::uint8_t emptyHeader_[kHeaderBytes] = {};
  std::shared_ptr<SharePackageDataQueue> route_;
  mutable VEXO::System::Thread::CriticalSection lock_;
};

}  // namespace Vantor::KQCP
