// examples/CollectorDemo.h - the demo's report sent to a log collector that is not there.
#pragma once

#include <string>

/// Runs an application whose exception logger also sends its reports to a collector address
/// where nothing listens: the report is logged as usual and waits in the queue folder.
void CollectorDemo(const std::string& AFolder);
