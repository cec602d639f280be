// NtFiles: a script's watch on one directory; NtFile: one reported change.
#pragma once

#include <memory>

#include "collector/event_source.h"
#include "files/file_watch.h"
#include "module/brisel_h.h"
#include "module/collection.h"
#include "module/object.h"

namespace brisel {

class NtFileItem final : public DispatchObject<NtFileItem, INtFile> {
 public:
  STDMETHODIMP get_Name(BSTR* out) override;
  STDMETHODIMP get_Size(double* out) override;
  STDMETHODIMP get_CreationTime(DATE* out) override;
  STDMETHODIMP get_LastAccessTime(DATE* out) override;
  STDMETHODIMP get_LastWriteTime(DATE* out) override;
  STDMETHODIMP get_Attributes(LONG* out) override;
  STDMETHODIMP get_Description(BSTR* out) override;

  FileRecord record;  // filled once, before the item is published
};

class NtFilesObject final : public CollectionObject<NtFilesObject, INtFiles> {
 public:
  HRESULT Startup() noexcept;  // creates the watcher and starts its worker

  STDMETHODIMP get_Event(LONG* out) override;
  STDMETHODIMP SetFilter(BSTR name, BSTR value, VARIANT* error_text, LONG* result) override;
  STDMETHODIMP ResetEvent(VARIANT* error_text, LONG* result) override;
  STDMETHODIMP GetEvent(LONG* out) override;

  // For tests: the watcher behind the object.
  FileWatchSource* Source() const noexcept { return source_.get(); }
  bool WorkerRunning() const noexcept { return worker_.Running(); }

 private:
  // Shared with the worker, so it outlives whichever of the two ends last.
  std::shared_ptr<FileWatchSource> source_;
  // Declared last: destroyed first, stopping and joining the worker before
  // the collection goes.
  WorkerThread worker_;
};

// FILETIME (UTC, unconverted) as an automation date; 0.0 when it cannot be converted.
DATE FileTimeToDate(const FILETIME& time) noexcept;

}  // namespace brisel
