# File watching: NtFiles and NtFile.
set(BRISEL_FILES_SOURCES
  files/file_watch.cpp
  files/nt_files.cpp)
