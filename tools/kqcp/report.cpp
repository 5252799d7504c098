// Formats platform readings as text tables and as JSON.
#include "report.h"

#include <cstdio>

#include "json_writer.h"

namespace kqcp_tool {
namespace {

enum Counter : std::size_t {
  kPosted,
  kRefusedBacklog,
  kRefusedOther,
  kDelivered,
  kDroppedFull,
  kDroppedGone,
  kDroppedBacklog,
  kReceived,
  kDroppedOnReceipt,
  kQueueResets,
  kRecordsLost,
};

std::uint64_t Refused(const Counters& c) {
  return c.values[kRefusedBacklog] + c.values[kRefusedOther];
}
std::uint64_t Dropped(const Counters& c) {
  return c.values[kDroppedFull] + c.values[kDroppedGone] + c.values[kDroppedBacklog] +
         c.values[kDroppedOnReceipt];
}

void MemberJson(JsonWriter& json, const Member& member, const char* key) {
  json.BeginObject(key);
  if (!key) json.Text("name", member.name);
  json.Number("pid", member.processId).Flag("alive", member.alive);
  if (member.queue.present) {
    json.BeginObject("queue")
        .Number("records", member.queue.records)
        .Number("bytes", member.queue.bytes)
        .Number("capacity", member.queue.capacity)
        .Flag("locked", false)
        .EndObject();
  }
  if (member.counters.present) {
    json.BeginObject("counters");
    for (std::size_t i = 0; i < std::size(kCounterNames); ++i) {
      json.Number(kCounterNames[i], member.counters.values[i]);
    }
    json.EndObject();
  }
  json.EndObject();
}

// Printable names only in the table; the JSON output keeps every byte, escaped.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

std::string Row(const Member& member, const Member* earlier, double seconds) {
  char line[256];
  const std::string name = member.name.empty() ? "(service)" : Printable(member.name);
  std::string queue = "-";
  if (member.queue.present) {
    queue = std::to_string(member.queue.records) + " rec, " + std::to_string(member.queue.bytes) +
            "/" + std::to_string(member.queue.capacity) + " B";
  }
  std::snprintf(line, sizeof line, "  %-20s %8u %-5s %-26s", name.c_str(), member.processId,
                member.alive ? "yes" : "no", queue.c_str());
  std::string row = line;
  const Counters& c = member.counters;
  if (!c.present) return row + " (no counters published)\n";
  std::snprintf(line, sizeof line, " %9llu %9llu %9llu %7llu %7llu %6llu",
                static_cast<unsigned long long>(c.values[kPosted]),
                static_cast<unsigned long long>(c.values[kDelivered]),
                static_cast<unsigned long long>(c.values[kReceived]),
                static_cast<unsigned long long>(Refused(c)),
                static_cast<unsigned long long>(Dropped(c)),
                static_cast<unsigned long long>(c.values[kQueueResets]));
  row += line;
  if (earlier && earlier->counters.present && seconds > 0) {
    const Counters& e = earlier->counters;
    auto rate = [&](std::uint64_t now, std::uint64_t then) {
      return now >= then ? static_cast<double>(now - then) / seconds : 0.0;
    };
    std::snprintf(line, sizeof line, " %9.1f %9.1f %9.1f",
                  rate(c.values[kPosted], e.values[kPosted]),
                  rate(c.values[kReceived], e.values[kReceived]), rate(Dropped(c), Dropped(e)));
    row += line;
  }
  return row + "\n";
}

const Member* Find(const Platform* platform, const Member& member) {
  if (!platform) return nullptr;
  if (member.name.empty()) return &platform->service;
  for (const Member& client : platform->clients) {
    if (client.name == member.name && client.processId == member.processId) return &client;
  }
  return nullptr;
}

}  // namespace

std::string PlatformsJson(const std::vector<Platform>& platforms) {
  JsonWriter json;
  json.BeginObject().BeginArray("platforms");
  for (const Platform& platform : platforms) {
    json.BeginObject().Text("name", platform.name).Flag("mapLocked", platform.mapLocked);
    MemberJson(json, platform.service, "service");
    json.BeginArray("clients");
    for (const Member& client : platform.clients) MemberJson(json, client, nullptr);
    json.EndArray().BeginArray("sessions");
    for (const Session& session : platform.sessions) {
      json.BeginObject()
          .Text("name", session.name)
          .Number("bytes", session.bytes)
          .Number("capacity", session.capacity)
          .EndObject();
    }
    json.EndArray().BeginArray("errors");
    for (const std::string& error : platform.errors) json.Value(error);
    json.EndArray().EndObject();
  }
  json.EndArray().EndObject();
  return json.Document() + "\n";
}

std::string PlatformTable(const Platform& platform, const Platform* earlier, double seconds) {
  std::string out = "platform " + platform.name;
  if (!platform.mapRead) {
    out += " (no proxy map: the service is not running)\n";
  } else {
    out += platform.mapLocked ? " (clients read under the platform lock"
                              : " (clients read without the platform lock, which stayed held";
    out += "; queues read without their locks)\n";
  }
  char header[256];
  std::snprintf(header, sizeof header, "  %-20s %8s %-5s %-26s %9s %9s %9s %7s %7s %6s", "member",
                "pid", "alive", "queue", "posted", "delivered", "received", "refused", "dropped",
                "resets");
  out += header;
  out += earlier ? "    post/s    recv/s    drop/s\n" : "\n";
  out += Row(platform.service, Find(earlier, platform.service), seconds);
  for (const Member& client : platform.clients) {
    out += Row(client, Find(earlier, client), seconds);
  }
  for (const Session& session : platform.sessions) {
    out += "  session " + Printable(session.name) + ": " + std::to_string(session.bytes) + " of " +
           std::to_string(session.capacity) + " bytes of shared data\n";
  }
  return out;
}

}  // namespace kqcp_tool
