// GBK two-byte sequences through iconv. The whole table is converted once and then only read,
// so any thread may use it and no iconv handle is shared.
#include "xml/gb2312_encoding.h"

#include <iconv.h>
#include <strings.h>

#include <cstdint>
#include <memory>
#include <mutex>

namespace VEXO::XML {

namespace {

constexpr int kLeadCount = 128;   // lead bytes 0x80..0xFF
constexpr int kTrailCount = 256;  // any second byte

struct GbkTable {
  // 0 marks a pair that is not a GBK character.
  std::uint16_t unit[kLeadCount][kTrailCount] = {};
};

std::unique_ptr<GbkTable> BuildTable() {
  auto table = std::make_unique<GbkTable>();
  iconv_t convert = iconv_open("UTF-16LE", "GBK");
  if (convert == reinterpret_cast<iconv_t>(-1)) return table;
  for (int lead = 0; lead < kLeadCount; ++lead) {
    for (int trail = 0; trail < kTrailCount; ++trail) {
      char in[2] = {static_cast<char>(0x80 + lead), static_cast<char>(trail)};
      unsigned char out[8] = {};
      char* inPointer = in;
      char* outPointer = reinterpret_cast<char*>(out);
      std::size_t inLeft = 2;
      std::size_t outLeft = sizeof out;
      iconv(convert, nullptr, nullptr, nullptr, nullptr);
      const std::size_t done = iconv(convert, &inPointer, &inLeft, &outPointer, &outLeft);
      // One whole character of exactly the two bytes, inside the basic plane.
      if (done == static_cast<std::size_t>(-1) || inLeft != 0 || sizeof out - outLeft != 2) {
        continue;
      }
      table->unit[lead][trail] = static_cast<std::uint16_t>(out[0] | (out[1] << 8));
    }
  }
  iconv_close(convert);
  return table;
}

const GbkTable& Table() {
  static const std::unique_ptr<GbkTable> table = BuildTable();
  return *table;
}

int XMLCALL Convert(void* /*data*/, const char* bytes) { return ConvertGbkPair(bytes); }

}  // namespace

int ConvertGbkPair(const char* bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const auto trail = static_cast<unsigned char>(bytes[1]);
  if (lead < 0x80) return -1;
  const std::uint16_t unit = Table().unit[lead - 0x80][trail];
  // Surrogates and non-characters are refused as Expat would refuse them anywhere.
  if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF)) return -1;
  return unit;
}

int XMLCALL HandleUnknownEncoding(void* /*handlerData*/, const XML_Char* name, XML_Encoding* info) {
  if (!name || strcasecmp(name, "gb2312") != 0) return XML_STATUS_ERROR;
  for (int byte = 0; byte < 128; ++byte) info->map[byte] = byte;
  for (int byte = 128; byte < 256; ++byte) info->map[byte] = -2;
  info->data = nullptr;
  info->convert = &Convert;
  info->release = nullptr;
  return XML_STATUS_OK;
}

}  // namespace VEXO::XML
