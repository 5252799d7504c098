// The "messenger" plug-in: share sessions carrying XML packages. In the service process it
// answers every order request with a reply package, sets the session's shared data and
// broadcasts; in a client it sends an order as an XML package and waits for the reply, and
// reports the messages and shared data it sees.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "common/demo_plugin_base.h"

namespace example {
namespace {

constexpr const char* kSession = "demo";

// Compact XML text of an element.
std::string TextOf(IKQXmlElement* element) {
  std::vector<char> buffer(4096);
  std::int32_t length = 0;
  if (element->Serialize(buffer.data(), static_cast<std::int32_t>(buffer.size()), &length) != 0) {
    return "<unreadable>";
  }
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// The byte form of a package holding element.
std::vector<char> PackageBytes(IKQCommunityPlatform* platform, IKQXmlElement* element) {
  Ref<IXMLPackage> package;
  platform->CreateObject(u"IXMLPackage", 0, package.PutVoid());
  if (!package) return {};
  package->SetElement(element);
  std::vector<char> bytes(4096);
  std::int32_t length = 0;
  if (package->GetData(bytes.data(), static_cast<std::int32_t>(bytes.size()), &length) != 0) {
    return {};
  }
  bytes.resize(static_cast<std::size_t>(length));
  return bytes;
}

// The root element of a package's bytes, or null when they are not a complete package.
Ref<IKQXmlElement> ParsePackage(IKQCommunityPlatform* platform, const std::uint8_t* data,
                                std::int32_t size) {
  Ref<IXMLPackageParser> parser;
  platform->CreateObject(u"IXMLPackageParser", 0, parser.PutVoid());
  std::int32_t complete = 0;
  Ref<IKQXmlElement> root;
  if (!parser || parser->Parse(reinterpret_cast<const char*>(data), size) != S_OK ||
      parser->IsComplete(&complete) != S_OK || parser->GetRootElement(root.Put()) != 0) {
    return {};
  }
  return root;
}

std::string Attribute(IKQXmlElement* element, const char* name) {
  char value[256] = {};
  return element->GetAttribute(name, value, sizeof value) == 0 ? value : "";
}

// Service side: answers each order with a reply package.
class OrderDesk : public Implements<IShareSessionOperationEvents> {
 public:
  OrderDesk(IKQCommunityPlatform* platform, IShareSessionService* session)
      : platform_(platform), session_(session) {}
  HRESULT OnRequest(IShareSessionOperation* request) override {
    std::uint8_t* data = nullptr;
    std::int32_t size = 0;
    if (request->GetBuffer(&data, &size) != S_OK) return S_OK;
    Ref<IKQXmlElement> order = ParsePackage(platform_, data, size);
    if (!order) return S_OK;
    Ref<IKQXmlElement> reply;
    platform_->CreateObject(u"IKQXmlElement", 0, reply.PutVoid());
    reply->Create("reply", nullptr);
    reply->SetAttribute("to", Attribute(order.Get(), "from").c_str());
    reply->SetAttribute("item", Attribute(order.Get(), "item").c_str());
    reply->SetAttribute("status", "accepted");
    const std::vector<char> bytes = PackageBytes(platform_, reply.Get());
    Ref<IShareSessionOperation> answer;
    if (session_->CreateReply(request, answer.Put()) != S_OK) return S_OK;
    answer->SetName("order-reply");
    answer->AllocBuffer(static_cast<std::int32_t>(bytes.size()));
    std::uint8_t* out = nullptr;
    answer->GetBuffer(&out, nullptr);
    std::memcpy(out, bytes.data(), bytes.size());
    session_->PostOperation(answer.Get());
    return S_OK;
  }
  HRESULT OnResponse(IShareSessionOperation*) override { return S_OK; }

 private:
  IKQCommunityPlatform* platform_;
  IShareSessionService* session_;
};

// Client side: keeps replies and messages for the steps that wait for them.
class Inbox : public Implements<IShareSessionOperationEvents, IShareSessionMessageEvents> {
 public:
  explicit Inbox(IKQCommunityPlatform* platform) : platform_(platform) {}
  HRESULT OnRequest(IShareSessionOperation*) override { return S_OK; }
  HRESULT OnResponse(IShareSessionOperation* reply) override {
    std::int32_t id = 0;
    reply->GetId(&id);
    std::uint8_t* data = nullptr;
    std::int32_t size = 0;
    reply->GetBuffer(&data, &size);
    Ref<IKQXmlElement> root = ParsePackage(platform_, data, size);
    std::lock_guard<std::mutex> guard(mutex_);
    replies_[id] = root ? TextOf(root.Get()) : "<not a package>";
    arrived_.notify_all();
    return S_OK;
  }
  HRESULT OnShareMessage(std::int32_t, std::int32_t a, std::int32_t b, std::int32_t c) override {
    std::lock_guard<std::mutex> guard(mutex_);
    messages_.push_back(std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c));
    arrived_.notify_all();
    return S_OK;
  }
  bool WaitReply(std::int32_t id, std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return replies_.count(id); })) {
      return false;
    }
    text = replies_[id];
    return true;
  }
  bool WaitMessages(std::size_t count, std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::seconds(10),
                           [&] { return messages_.size() >= count; })) {
      return false;
    }
    for (const auto& message : messages_) text += "[" + message + "] ";
    return true;
  }

 private:
  IKQCommunityPlatform* platform_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::map<std::int32_t, std::string> replies_;
  std::vector<std::string> messages_;
};

class MessengerPlugin : public DemoPlugin {
 public:
  MessengerPlugin() : DemoPlugin(u"messenger") {}

 protected:
  HRESULT Run(const std::string& step, const std::string& argument, std::string& text) override {
    std::istringstream words(argument);
    Ref<IShareSessionManager> manager;
    Platform()->GetShareSessionManager(manager.Put());
    if (step == "serve") {
      std::string platform;
      words >> platform;
      if (manager->Start(platform.c_str(), kShareModeService, nullptr) != S_OK ||
          manager->CreateServiceSession(kSession, 0) != S_OK ||
          manager->GetServiceSession(kSession, 0, service_.Put()) != S_OK) {
        text = "cannot serve " + platform;
        return E_FAIL;
      }
      desk_ = Ref<OrderDesk>(new OrderDesk(Platform(), service_.Get()), false);
      service_->AddOperationListener(desk_.Get());
      text = "service of platform " + platform + ", session " + kSession;
      return S_OK;
    }
    if (step == "share") {
      const HRESULT hr = service_ ? service_->SetSharedData(
                                        argument.data(), static_cast<std::int32_t>(argument.size()))
                                  : E_FAIL;
      text = "shared data set to \"" + argument + "\"";
      return hr;
    }
    if (step == "broadcast") {
      std::int32_t a = 0, b = 0, c = 0;
      words >> a >> b >> c;
      if (!service_) return E_FAIL;
      service_->PostMessage(nullptr, a, b, c);
      text = "broadcast " + argument;
      return S_OK;
    }
    if (step == "join") {
      std::string platform;
      words >> platform >> name_;
      if (manager->Start(platform.c_str(), kShareModeClient, name_.c_str()) != S_OK ||
          manager->GetProxySession(kSession, 0, proxy_.Put()) != S_OK) {
        text = "cannot join " + platform + " as " + name_;
        return E_FAIL;
      }
      inbox_ = Ref<Inbox>(new Inbox(Platform()), false);
      proxy_->AddOperationListener(inbox_.Get());
      proxy_->AddMessageListener(inbox_.Get());
      text = name_ + " joined platform " + platform;
      return S_OK;
    }
    if (!proxy_) {
      text = "not joined";
      return E_FAIL;
    }
    if (step == "request") {
      Ref<IKQXmlElement> order;
      Platform()->CreateObject(u"IKQXmlElement", 0, order.PutVoid());
      order->Create("order", nullptr);
      order->SetAttribute("from", name_.c_str());
      order->SetAttribute("item", argument.c_str());
      const std::vector<char> bytes = PackageBytes(Platform(), order.Get());
      Ref<IShareSessionOperation> request;
      proxy_->CreateOperation(request.Put());
      request->SetName("order");
      request->AllocBuffer(static_cast<std::int32_t>(bytes.size()));
      std::uint8_t* out = nullptr;
      request->GetBuffer(&out, nullptr);
      std::memcpy(out, bytes.data(), bytes.size());
      std::int32_t id = 0;
      request->GetId(&id);
      proxy_->PostOperation(request.Get());
      std::string reply;
      if (!inbox_->WaitReply(id, reply)) {
        text = "no reply to request " + std::to_string(id);
        return E_FAIL;
      }
      text =
          "sent " + TextOf(order.Get()) + " as request " + std::to_string(id) + ", reply " + reply;
      return S_OK;
    }
    if (step == "messages") {
      if (!inbox_->WaitMessages(static_cast<std::size_t>(std::atoi(argument.c_str())), text)) {
        text = "no message";
        return E_FAIL;
      }
      text = "messages " + text;
      return S_OK;
    }
    if (step == "shared") {
      if (proxy_->LockData() != S_OK) {
        text = "cannot lock the shared data";
        return E_FAIL;
      }
      std::uint8_t* data = nullptr;
      std::uint32_t size = 0;
      proxy_->GetSharedData(&data, &size);
      text = "shared data \"" + std::string(reinterpret_cast<char*>(data), size) + "\"";
      proxy_->UnlockData();
      return S_OK;
    }
    text = "unknown step " + step;
    return E_INVALIDARG;
  }

 private:
  Ref<IShareSessionService> service_;
  Ref<OrderDesk> desk_;
  Ref<IShareSessionProxy> proxy_;
  Ref<Inbox> inbox_;
  std::string name_;
};

}  // namespace
}  // namespace example

KQCP_PLUGIN_EXPORT Vantor::KQCP::HRESULT GetPluginObject(Vantor::KQCP::IKQCPPlugin** plugin) {
  return example::MakePlugin<example::MessengerPlugin>(plugin);
}
