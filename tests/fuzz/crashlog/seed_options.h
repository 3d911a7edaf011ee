// The option sets the seed programs start from: the defaults, and one with filters and
// changed texts.
#pragma once

#include "crashlog/module_options.h"
#include "platform/base/stringlist.h"

namespace qv::fuzz {

inline void SeedOptionSets(TOstrelModuleOptions (&sets)[2]) {
  TStringList classes;
  classes.SetCommaText("EAbort,EFoo");
  sets[1].SetExceptionFilterClasses(classes);
  sets[1].SetEMailMessage("Body\r\n");
  sets[1].SetTexts(3, "Text");
}

}  // namespace qv::fuzz
