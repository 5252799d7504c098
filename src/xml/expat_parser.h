// Owns one Expat parser and routes its callbacks to the handlers of the derived class:
//   void OnStartElement(const XML_Char* name, const XML_Char** attributes);
//   void OnEndElement(const XML_Char* name);
//   void OnCharacterData(const XML_Char* data, int length);
#pragma once

#include <expat.h>

#include <cstring>

#include "xml/gb2312_encoding.h"

namespace VEXO::XML {

template <class Derived>
class ExpatParser {
 public:
  ExpatParser() = default;
  virtual ~ExpatParser() { FreeExpat(); }
  ExpatParser(const ExpatParser&) = delete;
  ExpatParser& operator=(const ExpatParser&) = delete;

  XML_Parser Handle() const { return parser_; }

 protected:
  // Frees any previous parser first. Null or empty arguments let Expat detect the encoding and
  // leave namespace processing off, so "xmlns" arrives as an ordinary attribute.
  bool CreateExpat(const char* encoding, const char* separator) {
    FreeExpat();
    if (encoding && !*encoding) encoding = nullptr;
    if (separator && !*separator) separator = nullptr;
    const XML_Char sep = separator ? separator[0] : 0;
    parser_ = XML_ParserCreate_MM(encoding, nullptr, separator ? &sep : nullptr);
    if (!parser_) return false;
    XML_SetUserData(parser_, static_cast<ExpatParser*>(this));
    XML_SetElementHandler(parser_, &StartThunk, &EndThunk);
    XML_SetCharacterDataHandler(parser_, &CharacterThunk);
    XML_SetUnknownEncodingHandler(parser_, &HandleUnknownEncoding, nullptr);
    return true;
  }

  void FreeExpat() {
    if (parser_) XML_ParserFree(parser_);
    parser_ = nullptr;
  }

  // Whether the parser exists and has refused nothing yet. Expat itself would take an empty
  // piece after an error as accepted.
  bool Accepting() const { return parser_ && XML_GetErrorCode(parser_) == XML_ERROR_NONE; }

  // Negative length: the bytes are NUL-terminated. False after any earlier refusal.
  bool ParseExpat(const char* bytes, int length, bool isFinal) {
    if (!Accepting()) return false;
    if (length < 0) length = bytes ? static_cast<int>(std::strlen(bytes)) : 0;
    if (!bytes && length != 0) return false;
    return XML_Parse(parser_, bytes, length, isFinal ? XML_TRUE : XML_FALSE) == XML_STATUS_OK;
  }

  // Ends the current parse with an error; for handlers that run out of memory.
  void Abort() { XML_StopParser(parser_, XML_FALSE); }

 private:
  static Derived* Self(void* userData) {
    return static_cast<Derived*>(static_cast<ExpatParser*>(userData));
  }
  static void XMLCALL StartThunk(void* userData, const XML_Char* name,
                                 const XML_Char** attributes) {
    Self(userData)->OnStartElement(name, attributes);
  }
  static void XMLCALL EndThunk(void* userData, const XML_Char* name) {
    Self(userData)->OnEndElement(name);
  }
  static void XMLCALL CharacterThunk(void* userData, const XML_Char* data, int length) {
    Self(userData)->OnCharacterData(data, length);
  }

  XML_Parser parser_ = nullptr;
};

}  // namespace VEXO::XML
