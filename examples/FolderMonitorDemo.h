// examples/FolderMonitorDemo.h - the demo's folder monitor part.
#pragma once

#include <string>

/// Watches a temporary folder with a TJexFileLog, changes a few files in it and prints what the
/// monitor's handler logged for each change.
void FolderMonitorDemo(const std::string& AFolder);
