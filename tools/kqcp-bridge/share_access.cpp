// Public-interface helpers over the share sessions.
#include "share_access.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace kqcp_bridge {

using namespace Vantor::KQCP;

IShareSessionManager* ShareManager() {
  IKQCommunityPlatform* platform = nullptr;
  if (GetKQCommunityPlatform(&platform) != S_OK || !platform) return nullptr;
  platform->Init(nullptr);  // E_FAIL once it ran: either way the platform is initialised
  IShareSessionManager* manager = nullptr;
  if (platform->GetShareSessionManager(&manager) != S_OK) return nullptr;
  return manager;
}

ShareStatistics ShareCounters() {
  ShareStatistics statistics{};
  IShareSessionManager* manager = ShareManager();
  IShareStatistics* counters = nullptr;
  if (manager &&
      manager->QueryInterface(IID_IShareStatistics, reinterpret_cast<void**>(&counters)) == S_OK) {
    counters->GetStatistics(&statistics);
    counters->Release();
  }
  return statistics;
}

namespace {

// A string field through a getter that fails for a short buffer.
template <class Getter>
std::string ReadText(Getter getter) {
  std::vector<char> buffer(256);
  while (buffer.size() <= (1u << 20)) {
    if (getter(buffer.data(), static_cast<std::uint32_t>(buffer.size())) == S_OK) {
      return buffer.data();
    }
    buffer.resize(buffer.size() * 4);
  }
  return {};
}

}  // namespace

WireOperation ReadOperation(IShareSessionOperation* operation) {
  WireOperation out;
  operation->GetKind(&out.kind);
  operation->GetId(&out.id);
  out.name = ReadText([&](char* b, std::uint32_t n) { return operation->GetName(b, n); });
  out.session = ReadText([&](char* b, std::uint32_t n) { return operation->GetSession(b, n); });
  out.client = ReadText([&](char* b, std::uint32_t n) { return operation->GetSender(b, n); });
  std::uint8_t* data = nullptr;
  std::int32_t size = 0;
  if (operation->GetBuffer(&data, &size) == S_OK && size > 0) {
    out.hasBuffer = true;
    out.data.assign(data, data + size);
  }
  return out;
}

bool FillOperation(IShareSessionOperation* operation, const WireOperation& from, bool setId) {
  if (operation->SetName(from.name.c_str()) != S_OK) return false;
  operation->SetKind(from.kind);
  if (setId) operation->SetId(from.id);
  if (!from.hasBuffer) return true;
  if (from.data.empty() ||
      operation->AllocBuffer(static_cast<std::int32_t>(from.data.size())) != S_OK) {
    return false;
  }
  std::uint8_t* data = nullptr;
  std::int32_t size = 0;
  operation->GetBuffer(&data, &size);
  std::memcpy(data, from.data.data(), from.data.size());
  return true;
}

HRESULT OperationListener::OnRequest(IShareSessionOperation* operation) {
  fn_(operation);
  return S_OK;
}

HRESULT OperationListener::OnResponse(IShareSessionOperation* operation) {
  fn_(operation);
  return S_OK;
}

HRESULT MessageListener::OnShareMessage(std::int32_t, std::int32_t value1, std::int32_t value2,
                                        std::int32_t value3) {
  fn_(value1, value2, value3);
  return S_OK;
}

namespace {

bool IsPlain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

std::string Escape(const std::string& name) {
  std::string out;
  for (const char c : name) {
    if (IsPlain(c)) {
      out.push_back(c);
    } else {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
      out += code;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    unsigned value = 0;
    if (std::sscanf(text.substr(i + 1, 2).c_str(), "%2X", &value) != 1) return false;
    out->push_back(static_cast<char>(value));
    i += 2;
  }
  return true;
}

// The user's folder of named objects, as the library chooses it.
std::string NamesFolder() {
  const uid_t uid = geteuid();
  const std::string run = "/run/user/" + std::to_string(uid);
  struct stat status {};
  if (lstat(run.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == uid &&
      (status.st_mode & 077) == 0) {
    return run + "/kqcp";
  }
  return "/dev/shm/kqcp-" + std::to_string(uid);
}

}  // namespace

std::vector<std::string> FindSessionNames(const std::string& platform,
                                          const std::vector<std::string>& given) {
  std::vector<std::string> names = given;
  const std::string prefix = "kqcp.mtx." + Escape(platform);
  const std::string suffix = "_SESSION_DATA_MUTEX";
  std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(NamesFolder().c_str()), &closedir);
  if (!folder) return names;
  while (const dirent* entry = readdir(folder.get())) {
    const std::string file = entry->d_name;
    if (file.size() <= prefix.size() + suffix.size() || file.rfind(prefix, 0) != 0 ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    std::string session;
    if (!Unescape(file.substr(prefix.size(), file.size() - prefix.size() - suffix.size()),
                  &session) ||
        session.empty()) {
      continue;
    }
    names.push_back(session);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace kqcp_bridge
