// A request or reply between the service and a client: name, kind, id, routing strings and a
// byte buffer. The buffer's allocation keeps 8 bytes in front of the data, where kind and id
// are written when the operation is sent, so that the record's payload is one piece.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/critical_section.h"
#include "com/object.h"
#include "kqcp/share.h"
#include "share/package_record.h"

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

  // Fills a new operation from a received record at once: routing strings (each up to a zero
  // byte, as the setters take them), the name that follows the label's first nameAt bytes, and
  // the payload (kind, id, data).
  bool LoadRecord(const PackageRecord& record, std::size_t nameAt);

  // Sets kind, id and routing strings of a new operation at once.
  void Address(std::int32_t kind, std::int32_t id, const std::string& session,
               const std::string& target, const std::string& sender);
  // What posting takes from the operation, as it stands now: the queue record it makes when a
  // process of that own name sends it, its target and route.
  struct Posting {
    std::vector<std::uint8_t> record;
    std::string target;
    std::shared_ptr<SharePackageDataQueue> route;
  };
  // False (and nothing laid out) when the record would pass limit bytes or has a string too
  // long for a record.
  bool Encode(const std::string& senderName, std::uint32_t limit, Posting* posting);

  // The sender's own name, read under the lock.
  std::string Sender() const;
  // The receiver process a reply must reach: the one whose request it answers. A received
  // request carries its sender's queue, and CreateReply hands it on.
  void SetRoute(std::shared_ptr<SharePackageDataQueue> route);
  std::shared_ptr<SharePackageDataQueue> Route() const;

 private:
  HRESULT Copy(const std::string& text, char* buffer, std::uint32_t length) const;
  // A buffer block for length data bytes behind the header; null when out of memory.
  static std::unique_ptr<std::uint8_t[]> NewBlock(std::int32_t length);
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
