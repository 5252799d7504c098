// The log wrapper singleton. The library writes no log; the wrapper only holds the module name
// that Init sets.
#pragma once

#include <string>

namespace KQLog {

class KQLogWrapper_ {
 public:
  void SetModuleName(std::u16string name) { moduleName_ = std::move(name); }
  const std::u16string& ModuleName() const { return moduleName_; }

 protected:
  KQLogWrapper_() = default;
  virtual ~KQLogWrapper_() = default;

 private:
  std::u16string moduleName_;
};

}  // namespace KQLog
