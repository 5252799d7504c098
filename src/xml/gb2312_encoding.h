// Expat's handler for encodings it does not know. Only "gb2312" (any case) is accepted: bytes
// below 128 are themselves, every byte from 128 up starts a two-byte character converted as
// GBK, the superset of GB2312 that Chinese systems use as their ANSI code page.
#pragma once

#include <expat.h>

namespace VEXO::XML {

int XMLCALL HandleUnknownEncoding(void* handlerData, const XML_Char* name, XML_Encoding* info);

// The Unicode character of a two-byte GBK sequence, or -1 when the bytes are not one.
int ConvertGbkPair(const char* bytes);

}  // namespace VEXO::XML
