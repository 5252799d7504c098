/// @file
/// XML elements, packages (an element tree and its byte form) and the incremental package parser.
/// The XML interfaces report 0 for success and 1 (or a numbered code) for failure. Strings are
/// NUL-terminated UTF-8 bytes, stored and written back byte for byte. Nothing here is locked and
/// reference counts are plain: an object and everything taken from it are used by one thread at
/// a time. Objects are made with IKQCommunityPlatform::CreateObject.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

/// Interface id of IKQXmlElement.
inline constexpr GUID IID_IKQXmlElement = {
    0x4E6E0C13, 0xFAF3, 0x4A8E, {0xAA, 0xAC, 0x98, 0xA0, 0xE1, 0xD7, 0xCF, 0x2C}};
/// Interface id of IXMLPackage.
inline constexpr GUID IID_IXMLPackage = {
    0x2486C866, 0x8CA8, 0x4849, {0x98, 0x2C, 0xC4, 0xF3, 0xAA, 0xFF, 0xF7, 0x4C}};
/// Interface id of IXMLPackageParser.
inline constexpr GUID IID_IXMLPackageParser = {
    0x0BA7DE80, 0xF0BB, 0x4E78, {0x95, 0x1A, 0xDE, 0x28, 0x41, 0x29, 0xA5, 0xEC}};
/// Interface id of IPackage. The objects refuse this one and the next; they are assigned by this
/// build for the base interfaces.
inline constexpr GUID IID_IPackage = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x20}};
/// Interface id of IPackageParser.
inline constexpr GUID IID_IPackageParser = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x21}};

// Results of the element operations: 0 and 1, and 3000 from SetAttribute.
inline constexpr std::int32_t kXmlOk = 0;                  ///< success
inline constexpr std::int32_t kXmlFailed = 1;              ///< failure of any other kind
inline constexpr std::int32_t kXmlAttributeExists = 3000;  ///< the attribute is set already
// The path lookup behind FindElement tells these apart; FindElement reports each as 1.
inline constexpr std::int32_t kXmlInvalidPath = 3001;       ///< the path does not parse
inline constexpr std::int32_t kXmlPathRootMismatch = 3002;  ///< an absolute path names another top
inline constexpr std::int32_t kXmlPathNotFound = 3004;      ///< a segment has no matching child

/// One element: a name, a namespace, text, attributes in ascending byte order of their names
/// (each name once) and child elements in the order added. Elements returned by navigation
/// stay owned by the element that returned them and are valid while it lives; add a reference
/// to keep one longer. Asking twice for one child gives two objects over the same node; an
/// object must not be used once its node is gone (RemoveAllChildren above it). QueryInterface
/// answers only IID_IKQXmlElement and adds no reference. Every operation but Create returns 1 when
/// the element has no node yet or a required pointer is null; 0 on success unless noted.
struct IKQXmlElement : IUnknown {
  static constexpr const GUID& kIid = IID_IKQXmlElement;  ///< its interface id
  /// Gives the element a new node of its own named name, whose parent link (as GetParent reads
  /// it) is parent's node; the node is not added to parent's children. Any node held before is
  /// let go. 0; 1 when memory runs out.
  virtual HRESULT Create(const char* name, IKQXmlElement* parent) = 0;
  /// Replaces the text (null stores an empty one).
  virtual HRESULT SetText(const char* text) = 0;
  /// Replaces the name (null stores an empty one).
  virtual HRESULT SetName(const char* name) = 0;
  /// Replaces the namespace, which GetAttribute("xmlns") reads; it is never written out.
  virtual HRESULT SetNamespace(const char* ns) = 0;
  /// Adds an attribute: 0; kXmlAttributeExists when the name is set already (the old value
  /// stays). "xmlns" also replaces the namespace, even when the attribute exists already.
  virtual HRESULT SetAttribute(const char* name, const char* value) = 0;
  /// SetAttribute with the value written in decimal.
  virtual HRESULT SetAttributeInt(const char* name, std::int32_t value) = 0;
  /// Removes every attribute; the namespace stays.
  virtual HRESULT RemoveAllAttributes() = 0;
  /// Moves child's node, which child made with Create and still owns, to the end of this
  /// element's children; child then views a node of this tree. 1 when child is not an element
  /// of this library, has no node, is already in a tree, or holds this element's node or one
  /// above it.
  virtual HRESULT AddChild(IKQXmlElement* child) = 0;
  /// Destroys every child with its subtree.
  virtual HRESULT RemoveAllChildren() = 0;
  /// Copies the text and its NUL and zeroes the rest of buffer; 1, buffer untouched, when
  /// length is less than the text's length + 1.
  virtual HRESULT GetText(char* buffer, std::uint32_t length) = 0;
  /// Copies the name, as GetText.
  virtual HRESULT GetName(char* buffer, std::uint32_t length) = 0;
  /// Copies the namespace, as GetText.
  virtual HRESULT GetNamespace(char* buffer, std::uint32_t length) = 0;
  /// Copies the attribute's value, as GetText; "xmlns" reads the namespace. 1 when there is no
  /// such attribute.
  virtual HRESULT GetAttribute(const char* name, char* buffer, std::uint32_t length) = 0;
  /// The first child; 1 when there is none.
  virtual HRESULT GetFirstChild(std::uint32_t ignored, IKQXmlElement** child) = 0;
  /// The element a path leads to: "a/b" from this element's children, "/r/a/b" from this
  /// element when it is named r; each segment takes the first child of that name. A trailing
  /// "/@attribute" is accepted and not used. 1, nothing stored, when the path does not parse or
  /// resolve.
  virtual HRESULT FindElement(const char* path, IKQXmlElement** element) = 0;
  /// The number of children.
  virtual HRESULT GetChildCount(std::int32_t* count) = 0;
  /// The child at index; 1 when index is not below the child count.
  virtual HRESULT GetChild(std::uint32_t index, IKQXmlElement** child) = 0;
  /// The first child named name; 1 when there is none.
  virtual HRESULT GetChildByName(const char* name, IKQXmlElement** child) = 0;
  /// The number of children named name (set to 0 first); 1 for a null name.
  virtual HRESULT GetChildCountByName(const char* name, std::int32_t* count) = 0;
  /// Among the children named name, the one at index from 0; 1 when there are fewer or index
  /// is negative.
  virtual HRESULT GetChildByNameAt(const char* name, std::int32_t index, IKQXmlElement** child) = 0;
  /// The number of attributes.
  virtual HRESULT GetAttributeCount(std::int32_t* count) = 0;
  /// The attribute at index in name order (0 or less: the first). Name and value are each
  /// copied as far as they fit and the rest zeroed, so without a NUL when they fill the buffer.
  /// 1 when index is not below the attribute count, or a buffer is null with a non-zero length.
  virtual HRESULT GetAttributeAt(std::int32_t index, char* nameBuffer, std::uint32_t nameLength,
                                 char* valueBuffer, std::uint32_t valueLength) = 0;
  /// Copies the attribute's value as GetAttributeAt does; "xmlns" reads the attribute itself,
  /// not the namespace. 1 when there is no such attribute.
  virtual HRESULT GetAttributeValue(const char* name, char* buffer, std::uint32_t length) = 0;
  /// Writes the compact XML text of the element and its subtree and a NUL into buffer of size
  /// bytes, with no declaration or line breaks, attributes as name='value' followed by a
  /// space, the text before the children, and control bytes, quotes, ampersands and angle
  /// brackets escaped. length (may be null) receives the text's length without the NUL. 1 for
  /// a null buffer or when the text and NUL do not fit (the buffer then holds a NUL-terminated
  /// part).
  virtual HRESULT Serialize(char* buffer, std::int32_t size, std::int32_t* length) = 0;
  /// The parent element; for a top element an element without a node (every call on it returns
  /// 1), and still 0.
  virtual HRESULT GetParent(IKQXmlElement** parent) = 0;
};

/// Anything with a byte form.
struct IPackage : IUnknown {
  static constexpr const GUID& kIid = IID_IPackage;  ///< its interface id
  /// Writes the byte form and a NUL into buffer of size bytes; length (may be null) receives
  /// the byte form's length, without the NUL. 0; 1 when there is nothing to write or it and the
  /// NUL do not fit.
  virtual HRESULT GetData(char* buffer, std::int32_t size, std::int32_t* length) = 0;
};

/// An element tree whose byte form is its compact XML text (IKQXmlElement::Serialize) followed
/// by CR LF CR LF, the unit hosts and plug-ins exchange. QueryInterface answers only
/// IID_IXMLPackage and adds no reference.
struct IXMLPackage : IPackage {
  static constexpr const GUID& kIid = IID_IXMLPackage;  ///< its interface id
  /// Holds element with a reference of its own, releasing any element held before; null
  /// empties the package. 0.
  virtual HRESULT SetElement(IKQXmlElement* element) = 0;
  /// The element held, or null; no reference is added. 0; 1 for a null out pointer.
  virtual HRESULT GetElement(IKQXmlElement** element) = 0;
};

/// Takes received bytes in pieces and tells when a package is complete.
struct IPackageParser : IUnknown {
  static constexpr const GUID& kIid = IID_IPackageParser;  ///< its interface id
  /// Drops the tree and starts afresh, for the next package; elements and packages taken
  /// before keep the old tree. S_OK.
  virtual HRESULT Reset() = 0;
  /// Feeds the next piece, split anywhere. A negative length means the bytes are
  /// NUL-terminated. S_OK; E_FAIL when the text is malformed, in an unknown encoding (only
  /// "gb2312" is added to Expat's own) or a second package follows without Reset, and then
  /// until Reset.
  virtual HRESULT Parse(const char* bytes, std::int32_t length) = 0;
  /// complete (may be null) = 1 once the first child of the top element or the top element
  /// itself has closed, and until Reset: S_OK; else 0 and E_FAIL.
  virtual HRESULT IsComplete(std::int32_t* complete) = 0;
};

/// Builds an element tree from received package bytes with Expat. QueryInterface answers only
/// IID_IXMLPackageParser and adds no reference.
struct IXMLPackageParser : IPackageParser {
  static constexpr const GUID& kIid = IID_IXMLPackageParser;  ///< its interface id
  /// A new package holding the root element, whether or not the package is complete; the
  /// caller owns its one reference. 0; 1 for a null out pointer or when memory runs out.
  virtual HRESULT GetPackage(IXMLPackage** package) = 0;
  /// A new element over the tree's top element, its one reference the caller's; it keeps the
  /// tree alive after Reset and Release. 0; 1 for a null out pointer or when memory runs out.
  virtual HRESULT GetRootElement(IKQXmlElement** element) = 0;
};

}  // namespace Vantor::KQCP
