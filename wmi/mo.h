// MO: compiles MOF text into the module's WMI namespace.
#pragma once

#include "module/brisel_h.h"
#include "module/object.h"

namespace brisel {

class MofCompilerObject final : public DispatchObject<MofCompilerObject, IMO> {
 public:
  STDMETHODIMP MofCompile(BSTR mof, LONG option, VARIANT* error_text, LONG* result) override;
};

}  // namespace brisel
