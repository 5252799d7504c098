/// @file
/// XML elements, packages (an element tree and its byte form) and the incremental package parser.
/// The XML interfaces report 0 for success and 1 (or a numbered code) for failure.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

inline constexpr GUID IID_IKQXmlElement = {
    0x4E6E0C13, 0xFAF3, 0x4A8E, {0xAA, 0xAC, 0x98, 0xA0, 0xE1, 0xD7, 0xCF, 0x2C}};
inline constexpr GUID IID_IXMLPackage = {
    0x2486C866, 0x8CA8, 0x4849, {0x98, 0x2C, 0xC4, 0xF3, 0xAA, 0xFF, 0xF7, 0x4C}};
inline constexpr GUID IID_IXMLPackageParser = {
    0x0BA7DE80, 0xF0BB, 0x4E78, {0x95, 0x1A, 0xDE, 0x28, 0x41, 0x29, 0xA5, 0xEC}};
/// The objects refuse these two; they are assigned by this build for the base interfaces.
inline constexpr GUID IID_IPackage = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x20}};
inline constexpr GUID IID_IPackageParser = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x21}};

/// Numbered results of the element operations.
inline constexpr std::int32_t kXmlOk = 0;
inline constexpr std::int32_t kXmlFailed = 1;
inline constexpr std::int32_t kXmlAttributeExists = 3000;
inline constexpr std::int32_t kXmlInvalidPath = 3001;
inline constexpr std::int32_t kXmlPathRootMismatch = 3002;
inline constexpr std::int32_t kXmlPathNotFound = 3004;

/// One element. Elements returned by navigation stay owned by the element that returned them
/// and are valid while it lives; add a reference to keep one longer.
struct IKQXmlElement : IUnknown {
  static constexpr const GUID& kIid = IID_IKQXmlElement;
  virtual HRESULT Create(const char* name, IKQXmlElement* parent) = 0;
  virtual HRESULT SetText(const char* text) = 0;
  virtual HRESULT SetName(const char* name) = 0;
  virtual HRESULT SetNamespace(const char* ns) = 0;
  virtual HRESULT SetAttribute(const char* name, const char* value) = 0;
  virtual HRESULT SetAttributeInt(const char* name, std::int32_t value) = 0;
  virtual HRESULT RemoveAllAttributes() = 0;
  virtual HRESULT AddChild(IKQXmlElement* child) = 0;
  virtual HRESULT RemoveAllChildren() = 0;
  virtual HRESULT GetText(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT GetName(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT GetNamespace(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT GetAttribute(const char* name, char* buffer, std::uint32_t length) = 0;
  virtual HRESULT GetFirstChild(std::uint32_t ignored, IKQXmlElement** child) = 0;
  virtual HRESULT FindElement(const char* path, IKQXmlElement** element) = 0;
  virtual HRESULT GetChildCount(std::int32_t* count) = 0;
  virtual HRESULT GetChild(std::uint32_t index, IKQXmlElement** child) = 0;
  virtual HRESULT GetChildByName(const char* name, IKQXmlElement** child) = 0;
  virtual HRESULT GetChildCountByName(const char* name, std::int32_t* count) = 0;
  virtual HRESULT GetChildByNameAt(const char* name, std::int32_t index, IKQXmlElement** child) = 0;
  virtual HRESULT GetAttributeCount(std::int32_t* count) = 0;
  virtual HRESULT GetAttributeAt(std::int32_t index, char* nameBuffer, std::uint32_t nameLength,
                                 char* valueBuffer, std::uint32_t valueLength) = 0;
  virtual HRESULT GetAttributeValue(const char* name, char* buffer, std::uint32_t length) = 0;
  virtual HRESULT Serialize(char* buffer, std::int32_t size, std::int32_t* length) = 0;
  virtual HRESULT GetParent(IKQXmlElement** parent) = 0;
};

/// Anything with a byte form.
struct IPackage : IUnknown {
  static constexpr const GUID& kIid = IID_IPackage;
  /// Writes the byte form and a NUL; length excludes the NUL.
  virtual HRESULT GetData(char* buffer, std::int32_t size, std::int32_t* length) = 0;
};

/// An element tree whose byte form is its compact XML text followed by CR LF CR LF.
struct IXMLPackage : IPackage {
  static constexpr const GUID& kIid = IID_IXMLPackage;
  virtual HRESULT SetElement(IKQXmlElement* element) = 0;
  /// No reference is added.
  virtual HRESULT GetElement(IKQXmlElement** element) = 0;
};

/// Takes received bytes in pieces and tells when a package is complete.
struct IPackageParser : IUnknown {
  static constexpr const GUID& kIid = IID_IPackageParser;
  virtual HRESULT Reset() = 0;
  /// A negative length means the bytes are NUL-terminated.
  virtual HRESULT Parse(const char* bytes, std::int32_t length) = 0;
  virtual HRESULT IsComplete(std::int32_t* complete) = 0;
};

struct IXMLPackageParser : IPackageParser {
  static constexpr const GUID& kIid = IID_IXMLPackageParser;
  virtual HRESULT GetPackage(IXMLPackage** package) = 0;
  virtual HRESULT GetRootElement(IKQXmlElement** element) = 0;
};

}  // namespace Vantor::KQCP
