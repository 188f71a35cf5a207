// examples/AppLogDemo.h - the application event logger's part of the demo.
#pragma once

#include <string>

/// Runs a small application whose TJexAppLog writes the focus changes, the activation, a
/// settings change and the first idle moment into a log, then prints that log.
void AppLogDemo(const std::string& AFolder);
