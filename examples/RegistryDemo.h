// examples/RegistryDemo.h - the demo's registry monitor part.
#pragma once

#include <string>

/// Points the key store at a folder inside AFolder, watches a key with a TJexRegistryLog, writes
/// a few values and subkeys under it and prints what the monitor's handler logged.
void RegistryDemo(const std::string& AFolder);
