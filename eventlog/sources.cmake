# Event-log watching: the reader, message texts, NtEvents and NtEvent.
set(BRISEL_EVENTLOG_SOURCES
  eventlog/eventlog_api.cpp
  eventlog/message_text.cpp
  eventlog/log_reader.cpp
  eventlog/nt_events.cpp
  eventlog/testing.cpp)
