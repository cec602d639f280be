// A stand-in for the platform's WMI locator, registered in this process only, so
// that the process list's values are known (Wine's own provider leaves some at 0).
#pragma once

#include <windows.h>

namespace brisel::test {

struct FakeProcessRow {
  const wchar_t* name;
  LONG id, threads, handles;
};

// Registers the stand-in for CLSID_WbemLocator in the calling apartment; it
// lists `rows` as Win32_Process. Answers the cookie for CoRevokeClassObject.
HRESULT RegisterFakeWmi(const FakeProcessRow* rows, size_t count, DWORD* cookie);

}  // namespace brisel::test
