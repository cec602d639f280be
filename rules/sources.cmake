# Event rules, rule files, the NtEvents filter and NtEventFilter.
set(BRISEL_RULES_SOURCES
  rules/event_rules.cpp
  rules/rule_files.cpp
  rules/event_filter.cpp
  rules/nt_event_filter.cpp)
