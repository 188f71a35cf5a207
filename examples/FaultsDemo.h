// examples/FaultsDemo.h - the demo's hardware fault: a null dereference reported and survived.
#pragma once

#include <string>

/// Runs an application whose button handler reads through a null pointer; the exception logger
/// reports the access violation with unit, procedure and line, and the loop goes on.
void FaultsDemo(const std::string& AFolder);
