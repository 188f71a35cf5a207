// examples/ChecksDemo.h - the validation part of the demo.
#pragma once

#include <string>

/// Validates a small order form with one rule of each kind, prints which rules failed and where
/// their markers stand, then fixes the input and validates again.
void ChecksDemo();
