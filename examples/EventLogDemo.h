// examples/EventLogDemo.h - the demo's system event log part.
#pragma once

#include <string>

/// Keeps an event store and key store inside AFolder, registers a source with a message file,
/// writes two events with a TJexNTEventLog and prints them back through the component and
/// through the eventlog tool.
void EventLogDemo(const std::string& AFolder);
