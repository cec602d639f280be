#include "module/waiter.h"

#include <objbase.h>

namespace brisel {

namespace {

bool OnSingleThreadedApartment() noexcept {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (::CoGetApartmentType(&type, &qualifier) != S_OK) return false;
  return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

// Dispatches what is queued; false when WM_QUIT came, which is posted again
// for the thread's own loop to see.
bool PumpMessages() noexcept {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return true;
}

DWORD PumpingWait(HANDLE handle, DWORD milliseconds) noexcept {
  const ULONGLONG start = ::GetTickCount64();
  auto remaining = [&]() -> DWORD {
    ULONGLONG spent = ::GetTickCount64() - start;
    return spent >= milliseconds ? 0 : static_cast<DWORD>(milliseconds - spent);
  };
  for (;;) {
    DWORD r = ::MsgWaitForMultipleObjectsEx(1, &handle, remaining(), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r != WAIT_OBJECT_0 + 1) return r;
    if (!PumpMessages()) return ::WaitForSingleObject(handle, remaining());
    // Messages keep arriving past the deadline: the handle decides once more.
    if (remaining() == 0) return ::WaitForSingleObject(handle, 0);
  }
}

}  // namespace

long WaitForHandle(HANDLE handle, long milliseconds, std::wstring* error) {
  if (milliseconds < 0 || milliseconds > kWaitMaxMilliseconds) {
    *error = L"Wait: the time-out must be 0 to " + std::to_wstring(kWaitMaxMilliseconds) + L" milliseconds, not " +
             std::to_wstring(milliseconds);
    return -1;
  }
  // Negative values are pseudo-handles (-1 the process itself, which never
  // signals), never a watcher's; -1 is also what a failed Event answers.
  DWORD r = WAIT_FAILED;
  if (reinterpret_cast<LONG_PTR>(handle) < 0) {
    ::SetLastError(ERROR_INVALID_HANDLE);
  } else {
    DWORD ms = static_cast<DWORD>(milliseconds);
    r = OnSingleThreadedApartment() ? PumpingWait(handle, ms) : ::WaitForSingleObject(handle, ms);
  }
  switch (r) {
    case WAIT_OBJECT_0:
      return 0;
    case WAIT_ABANDONED:
      return 128;
    case WAIT_TIMEOUT:
      return 258;
    default:
      break;
  }
  DWORD code = ::GetLastError();
  *error = L"Wait: cannot wait on handle " + std::to_wstring(static_cast<long long>(reinterpret_cast<LONG_PTR>(handle))) +
           L" (error " + std::to_wstring(code) + L")";
  return -1;
}

STDMETHODIMP WaiterObject::Wait(LONG handle, LONG milliseconds, VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  try {
    std::wstring text;
    // Handles are 32-bit values sign-extended on 64-bit Windows, as Event gives them.
    *result = WaitForHandle(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(handle)), milliseconds, &text);
    SetOutText(error_text, text);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace brisel
